#include "shell/DocumentDetailView.h"

#include "app/core/AppNotifications.h"
#include "assistant/AssistantPanels.h"
#include "editor/ListContinuingTextView.h"
#include "editor/MarkdownTextView.h"
#include "editor/PreviewWebView.h"
#include "editor/core/ImageTypes.h"
#include "platform/PlainTextAlert.h"
#include "publishing/MediaLibrarySheet.h"
#include "publishing/PublishSheet.h"
#include "publishing/PublishToastHost.h"
#include "publishing/core/ImageLibrary.h"
#include "publishing/core/PublishService.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "shell/AppServices.h"
#include "shell/DetailHeader.h"
#include "shell/EmptyDetailView.h"
#include "shell/ExportActions.h"
#include "shell/PublishSplitButton.h"
#include "shell/StatusBar.h"
#include "shell/core/DetailRenderScheduler.h"
#include "store/DocumentStore.h"
#include "widgets/ConfirmationBox.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The mode buttons' tray: a faint rounded fill behind the three switches.
class ModeSwitcher final : public QWidget
{
public:
    explicit ModeSwitcher(QWidget *parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.06f);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(shape, fill);
    }
};

// The divider between editor and preview: a hairline in the middle of a
// handle wide enough to grab easily; the rest of the handle is the editor's
// own background, so the two panes still read as one sheet.
class HairlineHandle final : public QSplitterHandle
{
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Base));
        QColor line = palette().color(QPalette::WindowText);
        line.setAlphaF(0.15f);
        painter.fillRect(QRect(width() / 2, 0, 1, height()), line);
    }
};

class HairlineSplitter final : public QSplitter
{
public:
    using QSplitter::QSplitter;

    static constexpr int grabWidth = 7;

protected:
    QSplitterHandle *createHandle() override { return new HairlineHandle(orientation(), this); }
};

struct ModeButtonSpec
{
    ViewMode mode;
    IconName icon;
    const char16_t *help;
};

const ModeButtonSpec modeButtonSpecs[] = {
    {ViewMode::editor, IconName::pencilSquare, u"Editor"},
    {ViewMode::split, IconName::viewColumns, u"Split"},
    {ViewMode::preview, IconName::eye, u"Preview"},
};

} // namespace

DocumentDetailView::DocumentDetailView(AppServices &services, Strategies strategies, QWidget *parent)
    : QWidget(parent), m_store(services.store()), m_viewMode(services.viewMode()),
      m_renderer(new DetailRenderScheduler(this)), m_services(&services),
      m_imageLibrary(strategies.images ? strategies.images : services.images())
{
    m_fileDrop = new FileDropHandler(
        m_store, [this](const QString &id) { return m_editor ? m_editor->liveTextView(id) : nullptr; },
        std::move(strategies.fileDrops), this);
    m_exports = std::move(strategies.exports);
    m_confirmDelete = std::move(strategies.confirmDelete);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *header = new QWidget(this);
    header->setFixedHeight(40);
    buildHeader(header);
    layout->addWidget(header);

    m_content = new QStackedWidget(this);
    layout->addWidget(m_content, 1);

    m_documentPage = new QWidget(m_content);
    auto *pageLayout = new QVBoxLayout(m_documentPage);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);
    m_splitter = new HairlineSplitter(Qt::Horizontal, m_documentPage);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(HairlineSplitter::grabWidth);
    m_editorHolder = new QWidget(m_splitter);
    m_editorHolder->setMinimumWidth(320);
    auto *editorLayout = new QVBoxLayout(m_editorHolder);
    editorLayout->setContentsMargins(0, 0, 0, 0);
    m_preview = new PreviewWebView(services.preview(), m_store, m_splitter);
    m_preview->setMinimumWidth(320);
    connect(m_preview, &PreviewWebView::filesDropped, m_fileDrop,
            [this](const QList<QUrl> &urls) { m_fileDrop->handle(urls); });
    m_splitter->addWidget(m_editorHolder);
    m_splitter->addWidget(m_preview);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 1);
    pageLayout->addWidget(m_splitter, 1);
    m_statusBar = new StatusBar(m_documentPage);
    pageLayout->addWidget(m_statusBar);

    m_empty = new EmptyDetailView(m_store, m_content);
    m_blank = new QWidget(m_content);
    m_content->addWidget(m_documentPage);
    m_content->addWidget(m_empty);
    m_content->addWidget(m_blank);

    m_toastHost = new PublishToastHost(services.notifications(), this);

    connect(m_renderer, &DetailRenderScheduler::rendered, this, &DocumentDetailView::showRendered);
    connect(m_store, &DocumentStore::documentsChanged, this, &DocumentDetailView::refresh);
    connect(m_store, &DocumentStore::activeDocumentIDChanged, this, &DocumentDetailView::refresh);
    connect(m_store, &DocumentStore::isLoadedChanged, this, &DocumentDetailView::refresh);
    connect(m_store, &DocumentStore::stateChanged, this, &DocumentDetailView::refresh);
    connect(m_viewMode, &ViewModeSetting::modeChanged, this, &DocumentDetailView::applyMode);
    // The commands act on the open document: nothing when none is.
    AppNotifications *commands = services.notifications();
    connect(commands, &AppNotifications::publishDocumentRequested, this, [this] {
        if (m_store->activeDocument())
            openPublishSheet();
    });
    connect(commands, &AppNotifications::openMediaLibraryRequested, this,
            [this](std::optional<TextRange> range) {
                if (m_store->activeDocument() && !m_mediaSheet)
                    openMediaLibrary(range);
            });
    connect(commands, &AppNotifications::deleteDocumentRequested, this, [this] {
        if (m_store->activeDocument())
            confirmDelete();
    });

    refresh();
    applyMode();
}

DocumentDetailView::~DocumentDetailView()
{
    m_renderer->cancel();
}

void DocumentDetailView::buildHeader(QWidget *header)
{
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(10);
    row->addStretch(1);

    m_modeSwitcher = new ModeSwitcher(header);
    auto *switches = new QHBoxLayout(m_modeSwitcher);
    switches->setContentsMargins(2, 2, 2, 2);
    switches->setSpacing(2);
    for (const ModeButtonSpec &spec : modeButtonSpecs) {
        auto *button = new HeaderIconButton(spec.icon, QString::fromUtf16(spec.help), false, m_modeSwitcher);
        button->setObjectName(ViewModes::rawValue(spec.mode));
        const ViewMode mode = spec.mode;
        connect(button, &QAbstractButton::clicked, this, [this, mode] { setMode(mode); });
        switches->addWidget(button);
        m_modeButtons << button;
    }
    row->addWidget(m_modeSwitcher, 0, Qt::AlignVCenter);

    m_publishButton = new PublishSplitButton(header);
    connect(m_publishButton, &PublishSplitButton::publishRequested, this,
            &DocumentDetailView::openPublishSheet);
    connect(m_publishButton, &PublishSplitButton::exportRequested, this, &DocumentDetailView::exportAs);
    connect(m_publishButton, &PublishSplitButton::copyMarkdownRequested, this,
            &DocumentDetailView::copyMarkdown);
    row->addWidget(m_publishButton, 0, Qt::AlignVCenter);
}

ViewMode DocumentDetailView::mode() const
{
    return m_viewMode->mode();
}

void DocumentDetailView::setMode(ViewMode mode)
{
    m_viewMode->setMode(mode);
    applyMode();
}

QString DocumentDetailView::html() const
{
    return m_renderer->html();
}

MarkdownRenderer::Stats DocumentDetailView::stats() const
{
    return m_renderer->stats();
}

QString DocumentDetailView::renderedDocumentID() const
{
    return m_renderer->renderedDocumentID();
}

QWidget *DocumentDetailView::currentContent() const
{
    return m_content->currentWidget();
}

void DocumentDetailView::refresh()
{
    const auto active = m_store->activeDocument();
    const bool published = active && m_store->publishedSlug(active->id).has_value();
    m_modeSwitcher->setEnabled(active.has_value());
    m_publishButton->setEnabled(active.has_value());
    m_publishButton->setPublished(published);

    if (!active) {
        m_shownDocumentID.clear();
        m_renderer->cancel();
        dropEditor();
        m_content->setCurrentWidget(m_store->isLoaded() ? static_cast<QWidget *>(m_empty) : m_blank);
        return;
    }
    m_content->setCurrentWidget(m_documentPage);
    m_statusBar->setPublished(published);
    if (m_shownDocumentID != active->id) {
        m_shownDocumentID = active->id;
        ensureEditor(active->id);
        // A new, empty document is about to be written in, and the window's
        // first document should take typing at once: the caret goes there.
        // Opening an existing document leaves the focus where the user put it.
        if (m_editor && (active->body.isEmpty() || !window()->focusWidget())) {
            m_editor->setFocus(Qt::OtherFocusReason);
        }
    }
    m_renderer->request(
        active->id, active->updatedAt,
        [store = QPointer<DocumentStore>(m_store), id = active->id]() -> std::optional<QString> {
            std::optional<Document> document = store ? store->document(id) : std::nullopt;
            return document ? std::optional(std::move(document->body)) : std::nullopt;
        },
        m_store->documentIDsByTitle());
}

void DocumentDetailView::applyMode()
{
    const ViewMode current = mode();
    for (HeaderIconButton *button : std::as_const(m_modeButtons))
        button->setSelected(button->objectName() == ViewModes::rawValue(current));
    m_editorHolder->setVisible(current != ViewMode::preview);
    m_preview->setVisible(current != ViewMode::editor);
    // The editor alone shows only the counts; the HTML is rendered when the
    // preview shows again or an export asks for it.
    m_renderer->setHtmlWanted(current != ViewMode::editor);
    ensureEditor(m_shownDocumentID);
}

// The editor exists while a document is shown in a mode that has one, so that
// text inserted into "the open editor" never goes to a hidden one.
void DocumentDetailView::ensureEditor(const QString &documentID)
{
    if (documentID.isEmpty() || mode() == ViewMode::preview) {
        dropEditor();
        return;
    }
    if (!m_editor) {
        // An AI request the service refused for want of a sign-in asks for
        // the account afresh; the session has already heard of the refusal.
        AuthManager *auth = m_services->auth();
        auto *panels = new AssistantPanels(m_services->assistant(), [auth] { auth->refreshMe(); });
        m_editor = new MarkdownTextView(m_store, m_services->notifications(), m_services->spelling(), panels,
                                        m_editorHolder);
        ListContinuingTextView *view = m_editor->textView();
        connect(view, &ListContinuingTextView::filesDropped, m_fileDrop,
                [this, view](const QList<QUrl> &urls, qsizetype index) {
                    m_fileDrop->handle(urls, index, view);
                });
        m_editorHolder->layout()->addWidget(m_editor);
        m_editor->show();
    }
    m_editor->setDocumentID(documentID);
}

void DocumentDetailView::dropEditor()
{
    if (!m_editor)
        return;
    // The command that leads here (a delete, a mode change) may have come
    // from a key press inside the editor itself: hidden at once, so nothing
    // inserts into it any more, and released when that event is done.
    m_editor->hide();
    m_editor->deleteLater();
    m_editor = nullptr;
}

void DocumentDetailView::showRendered()
{
    // Another document's preview starts at its top, as its editor does.
    const QString &shown = m_renderer->renderedDocumentID();
    const PreviewPage::Place place =
        shown == m_previewDocumentID ? PreviewPage::Place::kept : PreviewPage::Place::top;
    m_previewDocumentID = shown;
    m_preview->setHtml(m_renderer->html(), place);
    m_statusBar->setStats(m_renderer->stats());
    Q_EMIT previewUpdated();
}

void DocumentDetailView::openPublishSheet()
{
    const QString id = m_store->activeDocumentID();
    if (id.isEmpty())
        return;
    if (m_publishSheet)
        return;
    auto *sheet = new PublishSheet(id, m_store, m_services->notifications(),
                                   PublishService(m_services->client(), m_store), m_services->auth(), this);
    m_publishSheet = sheet;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &PublishSheet::signInRequested, this, &DocumentDetailView::accountSettingsRequested);
    sheet->open();
}

void DocumentDetailView::openMediaLibrary(std::optional<TextRange> trigger)
{
    m_mediaTrigger = trigger;
    auto *sheet = new MediaLibrarySheet(
        m_imageLibrary, m_store, [this](const ImageAsset &asset) { insertMedia(asset); }, this);
    m_mediaSheet = sheet;
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        m_mediaTrigger.reset();
        sheet->deleteLater();
    });
    sheet->open();
}

void DocumentDetailView::confirmDelete()
{
    const auto active = m_store->activeDocument();
    const QString title = u"Delete \u201C"_s + (active ? active->displayTitle() : QString()) + u"\u201D?"_s;
    const QString message = u"This removes the document from every synced device."_s;
    bool confirmed = false;
    if (m_confirmDelete) {
        confirmed = m_confirmDelete(title, message);
    } else {
        // The same box the sidebar shows for the same question.
        const std::unique_ptr<QMessageBox> box(makeConfirmation(title, message, u"Delete Document"_s, this));
        box->exec();
        confirmed = box->buttonRole(box->clickedButton()) == QMessageBox::DestructiveRole;
    }
    if (confirmed)
        deleteActiveDocument();
}

void DocumentDetailView::deleteActiveDocument()
{
    const QString id = m_store->activeDocumentID();
    if (!id.isEmpty())
        m_store->deleteDocument(id);
}

void DocumentDetailView::insertMedia(const ImageAsset &asset)
{
    const QString id = m_store->activeDocumentID();
    if (id.isEmpty())
        return;
    const std::optional<TextRange> trigger = m_mediaTrigger;
    m_mediaTrigger.reset();
    const QString snippet = u"!["_s + ImageTypes::altText(asset.filename) + u"]("_s + asset.url + u')';

    ListContinuingTextView *view = m_editor ? m_editor->liveTextView(id) : nullptr;
    if (!view) {
        m_store->appendText(snippet, id);
        return;
    }
    const qsizetype length = view->length();
    TextRange range = view->selectedRange();
    if (trigger && trigger->fitsIn(length) &&
        view->string().mid(trigger->location, trigger->length) == u"!["_s)
        range = *trigger;
    range.location = std::clamp<qsizetype>(range.location, 0, length);
    range.length = std::clamp<qsizetype>(range.length, 0, length - range.location);
    if (!view->shouldChangeText(range, snippet))
        return;
    view->replaceCharacters(range, snippet);
}

void DocumentDetailView::exportAs(ExportFormat format)
{
    const auto active = m_store->activeDocument();
    if (!active)
        return;
    QString html;
    if (format == ExportFormat::Html) {
        // Right after a switch the preview may still show the previous
        // document, and without a preview the HTML is not kept up to date:
        // only HTML of the text as it is now is saved.
        if (m_renderer->renderedDocumentID() == active->id && m_renderer->isHtmlCurrent())
            html = m_renderer->html();
        else
            html = DetailRenderScheduler::renderNow(active->body, m_store->documentIDsByTitle()).html;
    }
    ExportActions::exportDocument(this, *active, format, html, m_exports);
}

void DocumentDetailView::copyMarkdown()
{
    if (const auto active = m_store->activeDocument())
        ExportActions::copyMarkdown(*active);
}

void DocumentDetailView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Split view opens with the editor and the preview side by side in equal
    // halves; after that the divider stays where the user puts it.
    if (!m_splitPlaced && m_splitter->width() > 0) {
        m_splitPlaced = true;
        m_splitter->setSizes({m_splitter->width() / 2, m_splitter->width() / 2});
    }
    m_toastHost->setGeometry(rect());
    m_toastHost->raise();
}

bool DocumentDetailView::event(QEvent *event)
{
    // The mode may have been written by something that bypassed the app's
    // setting; take it up whenever the window comes forward.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show)
        m_viewMode->refresh();
    return QWidget::event(event);
}
