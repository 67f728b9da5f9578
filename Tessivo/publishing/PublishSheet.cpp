#include "publishing/PublishSheet.h"

#include "publishing/core/PublishService.h"
#include "publishing/core/PublishSheetModel.h"
#include "service/core/AuthManager.h"
#include "store/SaveClock.h"
#include "widgets/Motion.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QString rgba(const QColor &color, double alpha)
{
    return u"rgba(%1,%2,%3,%4)"_s.arg(color.red()).arg(color.green()).arg(color.blue()).arg(alpha);
}

QFont monospaced(const QFont &base)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(base.pointSizeF() * 0.95);
    return font;
}

constexpr Motion::Spring sheetSpring{0.25, 0.85};
constexpr int copyFadeMs = 150;

} // namespace

PublishSheet::PublishSheet(const QString &documentID, DocumentStore *store, AppNotifications *notifications,
                           const PublishService &service, AuthManager *auth, QWidget *parent,
                           SaveClock *clock)
    : QDialog(parent)
{
    setWindowTitle(u"Publish"_s);
    setWindowModality(Qt::WindowModal);
    if (!clock)
        clock = new SteadySaveClock(this);
    m_model = new PublishSheetModel(documentID, store, notifications, service, clock, this);
    m_model->setSignedIn(auth->isSignedIn());
    connect(auth, &AuthManager::tokenChanged, m_model,
            [this, auth] { m_model->setSignedIn(auth->isSignedIn()); });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    // The sheet takes its content's size itself (fit()), on a spring when
    // the document gains or loses its link.
    layout->setSizeConstraint(QLayout::SetNoConstraint);

    m_title = new QLabel(this);
    QFont headline = m_title->font();
    headline.setWeight(QFont::DemiBold);
    headline.setPointSizeF(headline.pointSizeF() * 1.15);
    m_title->setFont(headline);
    layout->addWidget(m_title);

    m_description = new QLabel(this);
    m_description->setTextFormat(Qt::PlainText);
    m_description->setWordWrap(true);
    m_description->setFixedWidth(400);
    m_description->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_description);

    m_slugSection = new QWidget(this);
    auto *section = new QVBoxLayout(m_slugSection);
    section->setContentsMargins(0, 0, 0, 0);
    section->setSpacing(4);
    auto *box = new QFrame(m_slugSection);
    box->setObjectName(u"slugBox"_s);
    m_slugBox = box;
    restyle();
    auto *boxRow = new QHBoxLayout(box);
    boxRow->setContentsMargins(8, 6, 8, 6);
    boxRow->setSpacing(0);
    m_prefix = new QLabel(box);
    m_prefix->setTextFormat(Qt::PlainText);
    m_prefix->setFont(monospaced(font()));
    m_prefix->setForegroundRole(QPalette::PlaceholderText);
    m_prefix->setStyleSheet(u"background: transparent; border: none;"_s);
    m_slugField = new QLineEdit(box);
    m_slugField->setPlaceholderText(u"random"_s);
    m_slugField->setFont(monospaced(font()));
    m_slugField->setFrame(false);
    m_slugField->setStyleSheet(u"QLineEdit { background: transparent; border: none; }"_s);
    boxRow->addWidget(m_prefix);
    boxRow->addWidget(m_slugField, 1);
    m_caption = new QLabel(m_slugSection);
    QFont captionFont = m_caption->font();
    captionFont.setPointSizeF(captionFont.pointSizeF() * 0.85);
    m_caption->setFont(captionFont);
    section->addWidget(box);
    section->addWidget(m_caption);
    layout->addWidget(m_slugSection);

    // The row keeps its place in the layout; its content is placed by hand
    // so that it can slide within it.
    m_linkRow = new QWidget(this);
    m_linkContent = new QWidget(m_linkRow);
    auto *linkRow = new QHBoxLayout(m_linkContent);
    linkRow->setContentsMargins(0, 0, 0, 0);
    linkRow->setSpacing(8);
    m_linkField = new QLineEdit(m_linkContent);
    m_linkField->setAccessibleName(u"Link"_s);
    m_linkField->setReadOnly(true);
    m_linkField->setFocusPolicy(Qt::ClickFocus);
    m_linkField->setFont(monospaced(font()));
    m_copy = new QPushButton(u"Copy"_s, m_linkContent);
    m_copy->setFixedWidth(72);
    m_copy->setAutoDefault(false);
    m_open = new QPushButton(u"Open"_s, m_linkContent);
    m_open->setAutoDefault(false);
    linkRow->addWidget(m_linkField, 1);
    linkRow->addWidget(m_copy);
    linkRow->addWidget(m_open);
    m_linkRow->setFixedHeight(m_linkContent->sizeHint().height());
    m_linkRow->setMinimumWidth(m_linkContent->sizeHint().width());
    m_linkRow->installEventFilter(this);
    layout->addWidget(m_linkRow);

    m_error = new QLabel(this);
    m_error->setTextFormat(Qt::PlainText);
    m_error->setWordWrap(true);
    m_error->setFixedWidth(400);
    m_error->setStyleSheet(u"color: #e0443e;"_s);
    layout->addWidget(m_error);

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    m_unpublish = new QPushButton(u"Unpublish"_s, this);
    m_unpublish->setAutoDefault(false);
    m_unpublish->setStyleSheet(u"QPushButton { color: #e0443e; }"_s);
    m_dismiss = new QPushButton(this);
    m_dismiss->setAutoDefault(false);
    m_primary = new QPushButton(this);
    m_primary->setAutoDefault(false);
    buttons->addWidget(m_unpublish);
    buttons->addStretch(1);
    buttons->addWidget(m_dismiss);
    buttons->addWidget(m_primary);
    layout->addLayout(buttons);

    connect(m_slugField, &QLineEdit::textEdited, m_model, &PublishSheetModel::setCustomSlug);
    connect(m_copy, &QPushButton::clicked, this, [this] {
        const QString link = m_model->copyLink();
        if (!link.isEmpty())
            QGuiApplication::clipboard()->setText(link);
    });
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (m_model->link().isValid())
            QDesktopServices::openUrl(m_model->link());
    });
    connect(m_dismiss, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_primary, &QPushButton::clicked, m_model, &PublishSheetModel::primaryAction);
    connect(m_unpublish, &QPushButton::clicked, m_model, &PublishSheetModel::unpublish);
    connect(m_model, &PublishSheetModel::dismissRequested, this, &QDialog::accept);
    connect(m_model, &PublishSheetModel::signInRequested, this, &PublishSheet::signInRequested);
    connect(m_model, &PublishSheetModel::changed, this, &PublishSheet::refresh);
    refresh();
}

QString PublishSheet::documentID() const
{
    return m_model->documentID();
}

void PublishSheet::restyle()
{
    const QColor primary = palette().color(QPalette::WindowText);
    m_slugBox->setStyleSheet(
        u"QFrame#slugBox { background: %1; border: 1px solid %2; border-radius: 6px; }"_s.arg(
            rgba(primary, 0.05), rgba(primary, 0.12)));
}

bool PublishSheet::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_linkRow && event->type() == QEvent::Resize)
        m_linkContent->resize(m_linkRow->size());
    return QDialog::eventFilter(watched, event);
}

void PublishSheet::showLinkRow(bool shown, bool animated)
{
    if (!animated) {
        Motion::stop(m_linkContent, "pos");
        m_linkRow->setVisible(shown);
        m_linkContent->setVisible(shown);
        m_linkContent->move(0, 0);
        return;
    }
    // In and out 6 points below its place, fading, on the sheet's spring
    // (the fade alone with less motion); the row gives up its room once its
    // content is gone.
    if (shown)
        m_linkRow->show();
    Motion::fade(m_linkContent, shown, sheetSpring, Motion::reduced() ? QPoint() : QPoint(0, 6));
    if (shown)
        return;
    if (QPropertyAnimation *fading = Motion::runningFade(m_linkContent)) {
        connect(fading, &QAbstractAnimation::finished, this, [this] {
            if (m_linkContent->isHidden()) {
                m_linkRow->hide();
                fit(true);
            }
        });
    } else {
        m_linkRow->hide();
    }
}

void PublishSheet::setCopyTitleOpacity(qreal opacity)
{
    m_copyTitleOpacity = opacity;
    QPalette palette = m_copy->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        QColor title = this->palette().color(group, QPalette::ButtonText);
        title.setAlphaF(float(title.alphaF() * opacity));
        palette.setColor(group, QPalette::ButtonText, title);
    }
    m_copy->setPalette(palette);
}

void PublishSheet::fit(bool animated)
{
    const QSize wanted = layout()->sizeHint();
    setFixedWidth(wanted.width());
    if (animated || Motion::running(this, "sheetHeight"))
        Motion::animate(this, "sheetHeight", wanted.height(), sheetSpring);
    else
        setFixedHeight(wanted.height());
}

void PublishSheet::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_slugBox)
        restyle();
    QDialog::changeEvent(event);
}

void PublishSheet::refresh()
{
    const PublishSheetModel &model = *m_model;
    m_title->setText(model.title());
    m_description->setText(model.description());

    m_slugSection->setVisible(model.showsSlugSection());
    m_prefix->setText(model.linkPrefix());
    if (m_slugField->text() != model.customSlug()) {
        const int cursor = m_slugField->cursorPosition();
        m_slugField->setText(model.customSlug());
        m_slugField->setCursorPosition(cursor);
    }
    m_caption->setText(model.caption());
    m_caption->setStyleSheet(model.slugIsInvalid() ? u"color: #e0443e;"_s : QString());
    m_caption->setForegroundRole(QPalette::PlaceholderText);

    // Gaining or losing the link moves the whole sheet on one spring.
    const bool slugChanged = m_refreshed && model.slug() != m_shownSlug;
    m_shownSlug = model.slug();
    if (!m_refreshed || model.showsLinkRow() != m_linkShown) {
        m_linkShown = model.showsLinkRow();
        showLinkRow(m_linkShown, slugChanged);
    }
    m_linkField->setText(model.link().toString(QUrl::FullyEncoded));
    m_copy->setText(model.isCopied() ? u"Copied"_s : u"Copy"_s);
    if (m_refreshed && model.isCopied() != m_shownCopied) {
        // The new title fades in over 0.15 s, easing out. (Through its
        // colour: the row around it may be fading with an effect of its
        // own, and effects inside effects do not paint.)
        setCopyTitleOpacity(Motion::enabled() ? 0.0 : 1.0);
        Motion::animate(this, "copyTitleOpacity", 1.0, copyFadeMs, Motion::easeOut());
    }
    m_shownCopied = model.isCopied();
    m_copy->setEnabled(model.link().isValid());
    m_open->setEnabled(model.link().isValid());

    m_error->setVisible(model.error().has_value());
    m_error->setText(model.error().value_or(QString()));

    m_unpublish->setVisible(model.showsUnpublish());
    m_unpublish->setEnabled(model.isUnpublishEnabled());
    m_dismiss->setText(model.dismissTitle());
    m_primary->setText(model.primaryTitle());
    m_primary->setEnabled(model.isPrimaryEnabled());
    // Return publishes or updates; "Sign In…" takes no key.
    m_primary->setDefault(model.isSignedIn());
    fit(slugChanged);
    m_refreshed = true;
}
