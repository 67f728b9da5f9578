#include "publishing/PublishToastHost.h"

#include "app/core/AppNotifications.h"
#include "publishing/core/PublishToast.h"
#include "store/SaveClock.h"
#include "widgets/Motion.h"
#include "widgets/WidgetStyle.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

constexpr qreal cardRadius = 10;
constexpr Motion::Spring appear{0.25, 0.85};
constexpr int disappearMs = 200;
constexpr int shadowRadius = 12;
constexpr int shadowOffset = 4;

// A filled green circle with a white check mark in it.
QPixmap checkmark(int size, qreal ratio)
{
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(52, 199, 89));
    painter.drawEllipse(QRectF(0, 0, size, size));
    QPen tick(Qt::white, size / 9.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(tick);
    painter.setBrush(Qt::NoBrush);
    const qreal u = size / 16.0;
    painter.drawPolyline(QPolygonF{{4.5 * u, 8.2 * u}, {7 * u, 10.7 * u}, {11.5 * u, 5.6 * u}});
    return pixmap;
}

} // namespace

PublishToastHost::PublishToastHost(AppNotifications *notifications, QWidget *parent, SaveClock *clock)
    : QWidget(parent), m_clock(clock ? clock : new SteadySaveClock(this))
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    // The host only draws the card's shadow: clicks go through it to the
    // content beneath. The card itself sits just above it, beside it in
    // the same parent, and takes the clicks on it.
    setAttribute(Qt::WA_TransparentForMouseEvents);

    m_card = new QWidget(parent ? parent : this);
    m_card->setObjectName(u"publishToastCard"_s);
    m_card->setAttribute(Qt::WA_StyledBackground);
    m_card->hide();
    // The shadow follows the card as it slides and fades.
    auto *fading = new QGraphicsOpacityEffect(m_card);
    m_card->setGraphicsEffect(fading);
    connect(fading, &QGraphicsOpacityEffect::opacityChanged, this, qOverload<>(&QWidget::update));
    m_card->installEventFilter(this);
    restyle();

    auto *row = new QHBoxLayout(m_card);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(10);
    auto *check = new QLabel(m_card);
    check->setObjectName(u"publishToastCheck"_s);
    check->setPixmap(checkmark(16, devicePixelRatioF()));
    check->setStyleSheet(u"background: transparent; border: none;"_s);
    QFont medium = font();
    medium.setPixelSize(13);
    medium.setWeight(QFont::Medium);
    m_text = new QLabel(m_card);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setFont(medium);
    m_text->setStyleSheet(u"background: transparent; border: none;"_s);
    m_view = new QPushButton(u"View post"_s, m_card);
    m_view->setFont(medium);
    m_view->setFlat(true);
    m_view->setCursor(Qt::PointingHandCursor);
    m_view->setStyleSheet(u"QPushButton { color: palette(link); background: transparent; border: none; }"_s);
    row->addWidget(check);
    row->addWidget(m_text);
    row->addWidget(m_view);

    connect(m_view, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(m_url);
        dismiss();
    });
    connect(m_clock, &SaveClock::woke, this, &PublishToastHost::dismiss);
    connect(notifications, &AppNotifications::posted, this, &PublishToastHost::receive);
    hide();
}

void PublishToastHost::receive(const QString &name, const QVariantMap &userInfo)
{
    if (name != AppNotifications::publishToast)
        return;
    const std::optional<PublishToast::Content> content = PublishToast::read(userInfo);
    if (!content)
        return;
    m_message = content->message;
    m_url = content->url;
    m_text->setText(m_message);
    m_visible = true;
    // A new toast restarts the wait; the earlier one hides nothing.
    m_clock->wakeAt(m_clock->nowMs() + shownMs);
    // The card takes the size of its new text, at its resting place (a
    // slide under way ends there).
    Motion::stop(m_card, "pos");
    place();
    show();
    raise();
    m_card->raise();
    // In from below the pane's bottom edge, fading in (only fading in, with
    // less motion).
    Motion::fade(m_card, true, appear, slide());
}

QPoint PublishToastHost::slide() const
{
    // Less motion: the fade alone.
    if (Motion::reduced())
        return {};
    return {0, height() - cardRect().top()};
}

void PublishToastHost::dismiss()
{
    m_clock->cancelWake();
    m_visible = false;
    Motion::fade(m_card, false, disappearMs, Motion::easeOut(), slide());
}

void PublishToastHost::restyle()
{
    const QColor base = palette().color(QPalette::Window);
    const QColor text = palette().color(QPalette::WindowText);
    m_card->setStyleSheet(u"QWidget#publishToastCard { background: rgba(%1,%2,%3,0.97); border-radius: 10px;"
                          " border: 1px solid rgba(%4,%5,%6,0.12); }"_s.arg(base.red())
                              .arg(base.green())
                              .arg(base.blue())
                              .arg(text.red())
                              .arg(text.green())
                              .arg(text.blue()));
}

void PublishToastHost::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_card)
        restyle();
    QWidget::changeEvent(event);
}

bool PublishToastHost::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_card &&
        (event->type() == QEvent::Move || event->type() == QEvent::Show || event->type() == QEvent::Hide))
        update();
    return QWidget::eventFilter(watched, event);
}

bool PublishToastHost::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Move:
        place();
        break;
    case QEvent::ZOrderChange:
        // Raised over the pane's content: the card goes with it, on top.
        if (m_card->parentWidget() != this && m_card->isVisible())
            m_card->raise();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void PublishToastHost::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    place();
}

void PublishToastHost::paintEvent(QPaintEvent *)
{
    if (m_card->isHidden())
        return;
    // Black at 0.18 fading out over 12 points, 4 points down, under the card
    // wherever it is and as faint as it is.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setOpacity(Motion::opacity(m_card));
    const QRect at = m_card->parentWidget() == this
                         ? m_card->geometry()
                         : QRect(mapFrom(m_card->parentWidget(), m_card->pos()), m_card->size());
    const QRectF card = QRectF(at).translated(0, shadowOffset);
    for (int ring = shadowRadius; ring >= 1; --ring) {
        const qreal weight = 1.0 - qreal(ring) / (shadowRadius + 1);
        painter.setBrush(QColor(0, 0, 0, int(255 * 0.18 * weight * weight / 3)));
        painter.drawPath(
            WidgetStyle::roundedRect(card.adjusted(-ring, -ring, ring, ring), cardRadius + ring));
    }
}

QRect PublishToastHost::cardRect() const
{
    const QSize size = m_card->sizeHint();
    return QRect(width() - size.width() - 16, height() - size.height() - 16, size.width(), size.height());
}

void PublishToastHost::place()
{
    if (Motion::running(m_card, "pos"))
        return; // sliding to or from its place
    const QRect local = cardRect();
    m_card->setGeometry(m_card->parentWidget() == this
                            ? local
                            : QRect(mapTo(m_card->parentWidget(), local.topLeft()), local.size()));
    update();
}
