#include "publishing/PublishToastHost.h"

#include "app/core/AppNotifications.h"
#include "publishing/core/PublishToast.h"
#include "store/SaveClock.h"

#include <QDesktopServices>
#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

using namespace Qt::StringLiterals;

PublishToastHost::PublishToastHost(QWidget *parent, SaveClock *clock)
    : QWidget(parent), m_clock(clock ? clock : new SteadySaveClock(this))
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);

    m_card = new QWidget(this);
    m_card->setObjectName(u"publishToastCard"_s);
    m_card->setAttribute(Qt::WA_StyledBackground);
    restyle();
    auto *shadow = new QGraphicsDropShadowEffect(m_card);
    shadow->setColor(QColor(0, 0, 0, 46));
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 4);
    m_card->setGraphicsEffect(shadow);

    auto *row = new QHBoxLayout(m_card);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(10);
    auto *check = new QLabel(m_card);
    check->setPixmap(style()->standardIcon(QStyle::SP_DialogApplyButton).pixmap(16, 16));
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
    connect(AppNotifications::instance(), &AppNotifications::posted, this, &PublishToastHost::receive);
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
    place();
    show();
    raise();
}

void PublishToastHost::dismiss()
{
    m_clock->cancelWake();
    m_visible = false;
    hide();
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

void PublishToastHost::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    place();
}

// Only the card takes clicks: the mask leaves the rest of the pane to the
// content beneath.
void PublishToastHost::place()
{
    m_card->adjustSize();
    const QSize size = m_card->sizeHint();
    m_card->setGeometry(width() - size.width() - 16, height() - size.height() - 16, size.width(),
                        size.height());
    setMask(QRegion(m_card->geometry().adjusted(-16, -16, 16, 16)));
}
