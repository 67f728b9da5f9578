#include "sidebar/SidebarView.h"

#include "app/core/AppNotifications.h"
#include "app/core/AppSettings.h"
#include "app/core/AppShortcuts.h"
#include "editor/core/FileDropRules.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "sidebar/SidebarDialogs.h"
#include "sidebar/SidebarFooterRows.h"
#include "sidebar/SidebarHeader.h"
#include "sidebar/SidebarListView.h"
#include "sidebar/core/SidebarFooter.h"
#include "sidebar/core/SidebarModel.h"
#include "sidebar/core/SidebarTexts.h"
#include "store/DocumentStore.h"
#include "widgets/ConfirmationBox.h"
#include "widgets/ExternalLink.h"
#include "widgets/WidgetStyle.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

SidebarView::SidebarView(DocumentStore *store, QSettings *settings, const Services &services, QWidget *parent)
    : QWidget(parent)
{
    build(store, settings, services, {});
}

SidebarView::SidebarView(DocumentStore *store, QSettings *settings, const Services &services,
                         Strategies strategies, QWidget *parent)
    : QWidget(parent)
{
    build(store, settings, services, std::move(strategies));
}

SidebarView::~SidebarView() = default;

void SidebarView::build(DocumentStore *store, QSettings *settings, const Services &services,
                        Strategies strategies)
{
    AuthManager *auth = services.auth;
    AppNotifications *notifications = services.notifications;
    m_auth = auth;
    m_model = new SidebarModel(store, settings, this);
    m_model->setSiteURLProvider(
        [this]() -> std::optional<QUrl> { return m_auth ? m_auth->siteURL() : std::nullopt; });
    m_filePicker = [settings](QWidget *parent, const QString &message, const QStringList &filters) {
        AppSettings dialogSettings(settings);
        const QList<QUrl> chosen =
            QFileDialog::getOpenFileUrls(parent, message, QUrl::fromLocalFile(dialogSettings.dialogFolder()),
                                         filters.join(QStringLiteral(";;")));
        if (!chosen.isEmpty() && chosen.constFirst().isLocalFile())
            dialogSettings.rememberDialogChoice(chosen.constFirst().toLocalFile());
        return chosen;
    };
    if (strategies.pickFiles)
        m_filePicker = std::move(strategies.pickFiles);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // No band above the brand row: the window manager's title bar holds the
    // window's buttons. The window's sidebar toggle sits at the row's end.
    auto *header = new QVBoxLayout;
    header->setContentsMargins(12, 5, 12, 10);
    header->setSpacing(12);
    header->addWidget(new BrandRow(this));
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    m_create = new CreateSplitButton([this] { m_model->store()->createDocument(std::nullopt, QString()); },
                                     [this] { beginNewCollection(); }, [this] { openMarkdownFiles(); }, this);
    // The tooltip names the key the menu bar binds to the palette.
    const QString paletteShortcut =
        QKeySequence(AppShortcuts::commandPalette).toString(QKeySequence::NativeText);
    m_palette = new SidebarIconButton(
        IconName::command, SidebarTexts::commandPaletteHelp().arg(paletteShortcut),
        [notifications] { notifications->post(AppNotifications::toggleCommandPalette); }, this);
    buttons->addWidget(m_create, 1);
    buttons->addWidget(m_palette);
    header->addLayout(buttons);
    layout->addLayout(header);

    m_list = new SidebarListView(m_model, std::move(strategies.list), this);
    layout->addWidget(m_list, 1);

    auto *footer = new QVBoxLayout;
    footer->setContentsMargins(8, 8, 8, 8);
    footer->setSpacing(2);
    m_status = new SyncStatusRow(auth, services.sync, QString(), this);
    m_account = new AccountRow([this] { Q_EMIT settingsRequested(); }, auth, services.network, this);
    footer->addWidget(m_status);
    footer->addWidget(m_account);
    layout->addLayout(footer);

    connect(notifications, &AppNotifications::newCollectionRequested, this, &SidebarView::beginNewCollection);
    connect(m_model, &SidebarModel::openURLRequested, this, [this](const QUrl &url) {
        if (url.isValid() && !url.host().isEmpty())
            ExternalLink::open(url, this);
    });
    connect(m_model, &SidebarModel::creatingCollectionChanged, this, &SidebarView::showNewCollectionPrompt);
    connect(m_model, &SidebarModel::renamingChanged, this, &SidebarView::showRenamePrompt);
    connect(m_model, &SidebarModel::collectionToDeleteChanged, this, &SidebarView::showDeleteCollection);
    connect(m_model, &SidebarModel::documentToDeleteChanged, this, &SidebarView::showDeleteDocument);
}

void SidebarView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), WidgetStyle::background(palette()));
}

void SidebarView::beginNewCollection()
{
    m_model->beginNewCollection();
}

void SidebarView::setServiceBaseURL(const QUrl &url)
{
    m_model->setServiceBaseURL(url);
    m_status->setServiceHost(url.host());
}

QStringList SidebarView::nameFilters()
{
    QStringList patterns;
    for (const QString &extension :
         {QStringLiteral("md"), QStringLiteral("markdown"), QStringLiteral("mdown"), QStringLiteral("mkd"),
          QStringLiteral("mkdn"), QStringLiteral("mdwn"), QStringLiteral("txt")}) {
        if (FileDropRules::markdownExtensions().contains(extension))
            patterns << QStringLiteral("*.") + extension;
    }
    return {QStringLiteral("Markdown and text files (%1)").arg(patterns.join(u' '))};
}

QList<QUrl> SidebarView::markdownFiles(const QList<QUrl> &chosen)
{
    QList<QUrl> files;
    for (const QUrl &url : chosen) {
        if (FileDropRules::markdownExtensions().contains(QFileInfo(url.path()).suffix().toLower()))
            files.append(url);
    }
    return files;
}

void SidebarView::openMarkdownFiles()
{
    const QList<QUrl> files =
        markdownFiles(m_filePicker(this, SidebarTexts::openFilesMessage(), nameFilters()));
    if (!files.isEmpty())
        Q_EMIT importRequested(files);
}

SidebarPrompt *SidebarView::openPrompt(const QString &role, const QString &title, const QString &message,
                                       const QString &acceptText, const QString &text)
{
    // One prompt at a time: a prompt of the other kind gives way, and its
    // flow ends as if it had been dismissed.
    const QString previous = m_prompt ? m_prompt->property("role").toString() : QString();
    closePrompt();
    if (previous == QLatin1String("rename") && role != previous)
        m_model->dismissRename();
    else if (previous == QLatin1String("new") && role != previous)
        m_model->dismissNewCollection();
    auto *prompt = new SidebarPrompt(title, message, acceptText, this);
    prompt->setProperty("role", role);
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    prompt->field()->setText(text);
    prompt->field()->selectAll();
    m_prompt = prompt;
    return prompt;
}

void SidebarView::closePrompt()
{
    if (SidebarPrompt *prompt = m_prompt) {
        m_prompt = nullptr;
        prompt->disconnect(this);
        prompt->close();
    }
}

void SidebarView::showNewCollectionPrompt(bool shown)
{
    if (!shown) {
        if (m_prompt && m_prompt->property("role").toString() == QLatin1String("new"))
            closePrompt();
        return;
    }
    SidebarPrompt *prompt = openPrompt(QStringLiteral("new"), SidebarTexts::newCollectionTitle(),
                                       SidebarTexts::newCollectionMessage(), SidebarTexts::create(),
                                       m_model->newCollectionName());
    connect(prompt->field(), &QLineEdit::textChanged, m_model, &SidebarModel::setNewCollectionName);
    connect(prompt, &QDialog::accepted, this, [this] { m_model->createCollection(); });
    connect(prompt, &QDialog::rejected, this, [this] { m_model->cancelNewCollection(); });
    prompt->open();
}

void SidebarView::showRenamePrompt()
{
    if (!m_model->renaming()) {
        if (m_prompt && m_prompt->property("role").toString() == QLatin1String("rename"))
            closePrompt();
        return;
    }
    SidebarPrompt *prompt = openPrompt(QStringLiteral("rename"), SidebarTexts::renameCollectionTitle(),
                                       QString(), SidebarTexts::rename(), m_model->renameText());
    connect(prompt->field(), &QLineEdit::textChanged, m_model, &SidebarModel::setRenameText);
    connect(prompt, &QDialog::accepted, this, [this] { m_model->confirmRename(); });
    connect(prompt, &QDialog::rejected, this, [this] { m_model->dismissRename(); });
    prompt->open();
}

void SidebarView::closeConfirmation(const QString &next)
{
    if (QMessageBox *box = m_confirmation) {
        m_confirmation = nullptr;
        box->disconnect(this);
        box->close();
        // A confirmation of the other kind that gives way ends as if it
        // had been cancelled.
        const QString role = box->property("role").toString();
        if (role != next && role == QLatin1String("collection"))
            m_model->dismissDeleteCollection();
        else if (role != next && role == QLatin1String("document"))
            m_model->dismissDeleteDocument();
    }
}

void SidebarView::showDeleteCollection()
{
    if (!m_model->collectionToDelete())
        return;
    closeConfirmation(QStringLiteral("collection"));
    QMessageBox *box =
        makeConfirmation(m_model->deleteCollectionTitle(), SidebarTexts::deleteCollectionMessage(),
                         SidebarTexts::deleteCollectionButton(), this);
    box->setProperty("role", QStringLiteral("collection"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    m_confirmation = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->buttonRole(box->clickedButton()) == QMessageBox::DestructiveRole)
            m_model->confirmDeleteCollection();
        else
            m_model->dismissDeleteCollection();
    });
    box->open();
}

void SidebarView::showDeleteDocument()
{
    if (!m_model->documentToDelete())
        return;
    closeConfirmation(QStringLiteral("document"));
    QMessageBox *box = makeConfirmation(m_model->deleteDocumentTitle(), SidebarTexts::deleteDocumentMessage(),
                                        SidebarTexts::deleteDocumentButton(), this);
    box->setProperty("role", QStringLiteral("document"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    m_confirmation = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->buttonRole(box->clickedButton()) == QMessageBox::DestructiveRole)
            m_model->confirmDeleteDocument();
        else
            m_model->dismissDeleteDocument();
    });
    box->open();
}
