#include "sidebar/SidebarFooterRows.h"

#include "service/core/AuthManager.h"
#include "service/core/PictureFetch.h"
#include "widgets/Icon.h"
#include "widgets/Pulse.h"
#include "widgets/WidgetStyle.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>

namespace {

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

} // namespace

// --- SyncStatusRow ------------------------------------------------------------------

SyncStatusRow::SyncStatusRow(AuthManager *auth, SyncEngine *sync, const QString &serviceHost, QWidget *parent)
    : QWidget(parent), m_auth(auth), m_sync(sync), m_serviceHost(serviceHost),
      m_icon(new Icon(IconName::cloudSlash, 14, this)), m_statusFrame(new QWidget(this)),
      m_statusIcon(new Icon(IconName::cloudCheck, 15, m_statusFrame)), m_text(new QLabel(this)),
      m_pulse(new Pulse(m_statusIcon))
{
    m_statusFrame->setFixedSize(18, 15);
    m_statusIcon->move(1, 0);
    auto *layout = new QHBoxLayout(this);
    layout->setSpacing(8);
    layout->addStretch(0);
    layout->addWidget(m_icon);
    layout->addWidget(m_statusFrame);
    layout->addWidget(m_text);
    layout->addStretch(1);
    m_text->setTextFormat(Qt::PlainText);
    if (auth) {
        connect(auth, &AuthManager::tokenChanged, this, &SyncStatusRow::refresh);
        connect(auth, &AuthManager::readingChanged, this, &SyncStatusRow::refresh);
    }
    if (sync)
        connect(sync, &SyncEngine::statusChanged, this, &SyncStatusRow::refresh);
    refresh();
}

void SyncStatusRow::refresh()
{
    if (m_auth && m_auth->isReading()) {
        // Signed in or not is not known until the keyring answers.
        m_icon->hide();
        m_statusFrame->hide();
        m_text->clear();
        m_presented = false;
        return;
    }
    const bool hasToken = m_auth && m_auth->token().has_value();
    const SyncEngine::Status status = m_sync ? m_sync->status() : SyncEngine::Status{};
    apply(SidebarFooter::syncStatus(hasToken, status, QDateTime::currentDateTimeUtc(), m_serviceHost));
    m_presented = false;
}

void SyncStatusRow::present(const SidebarFooter::SyncStatus &status)
{
    apply(status);
    m_presented = true;
}

void SyncStatusRow::apply(const SidebarFooter::SyncStatus &status)
{
    m_shown = status;
    auto *layout = static_cast<QHBoxLayout *>(this->layout());
    m_icon->setName(status.icon);
    m_statusIcon->setName(status.icon);
    m_icon->setVisible(!status.signedIn);
    m_statusFrame->setVisible(status.signedIn);
    m_text->setText(status.text);
    setTextColor(m_text, WidgetStyle::secondary(palette()));
    if (!status.signedIn) {
        // One centred line, quieter than the signed-in row.
        layout->setContentsMargins(0, 6, 0, 6);
        layout->setSpacing(6);
        layout->setStretch(0, 1);
        m_icon->setColor(WidgetStyle::secondary(palette()));
        m_text->setFont(WidgetStyle::font(11, QFont::Medium));
        setMinimumHeight(0);
        setMaximumHeight(QWIDGETSIZE_MAX);
        setToolTip(QString());
    } else {
        layout->setContentsMargins(10, 0, 10, 0);
        layout->setSpacing(8);
        layout->setStretch(0, 0);
        m_statusIcon->setColor(WidgetStyle::accent(palette()));
        m_text->setFont(WidgetStyle::font(13));
        setFixedHeight(30);
        setToolTip(WidgetStyle::plainToolTip(status.toolTip));
    }
    m_pulse->setActive(status.signedIn && status.pulses);
}

bool SyncStatusRow::event(QEvent *event)
{
    // "Synced 5 minutes ago" is worded when it is shown, not when the sync
    // ended, so that it does not go stale while the window stays open.
    if (event->type() == QEvent::ToolTip && m_shown.signedIn && !m_presented && m_sync)
        setToolTip(WidgetStyle::plainToolTip(
            SidebarFooter::syncDetailText(m_sync->status(), QDateTime::currentDateTimeUtc(), m_serviceHost)));
    return QWidget::event(event);
}

void SyncStatusRow::setServiceHost(const QString &host)
{
    m_serviceHost = host;
    refresh();
}

bool SyncStatusRow::isPulsing() const
{
    return m_pulse->isActive();
}

// --- Avatar ---------------------------------------------------------------------------------

Avatar::Avatar(QNetworkAccessManager *network, QWidget *parent) : QWidget(parent), m_network(network)
{
    setFixedSize(26, 26);
}

Avatar::~Avatar()
{
    if (m_reply)
        m_reply->abort();
}

void Avatar::setUser(const QString &initial, const QUrl &image)
{
    m_initial = initial;
    if (image != m_url) {
        m_url = image;
        m_image = QImage();
        load();
    }
    update();
}

void Avatar::load()
{
    if (m_reply) {
        m_reply->abort();
        m_reply = nullptr;
    }
    QNetworkReply *reply = m_network ? pictureFetch::get(*m_network, m_url, maximumImageBytes) : nullptr;
    if (!reply)
        return;
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (reply != m_reply)
            return;
        m_reply = nullptr;
        if (reply->error() != QNetworkReply::NoError)
            return;
        QImage image;
        if (image.loadFromData(reply->readAll()))
            m_image = image;
        update();
    });
}

void Avatar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath circle;
    circle.addEllipse(QRectF(rect()));
    p.setClipPath(circle);
    QColor fill = WidgetStyle::accent(palette());
    fill.setAlphaF(0.18f);
    p.fillPath(circle, fill);
    p.setFont(WidgetStyle::font(11, QFont::DemiBold));
    p.setPen(WidgetStyle::accent(palette()));
    p.drawText(rect(), Qt::AlignCenter, m_initial);
    if (!m_image.isNull())
        p.drawImage(QRectF(rect()), m_image);
}

// --- AccountRow -----------------------------------------------------------------------------

namespace {

class LockBadge final : public QWidget
{
public:
    explicit LockBadge(QWidget *parent) : QWidget(parent) { setFixedSize(26, 26); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(WidgetStyle::primary(palette(), 0.08));
        p.drawEllipse(QRectF(rect()));
        p.drawPixmap(QPointF(7, 7), Icon::pixmap(IconName::lock, 12, WidgetStyle::secondary(palette()),
                                                 devicePixelRatioF()));
    }
};

} // namespace

AccountRow::AccountRow(std::function<void()> action, AuthManager *auth, QNetworkAccessManager *network,
                       QWidget *parent)
    : QAbstractButton(parent), m_auth(auth), m_avatar(new Avatar(network, this)),
      m_lockBadge(new LockBadge(this)), m_name(new QLabel(this)),
      m_settings(new Icon(IconName::settings, 15, this))
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 5, 8, 5);
    layout->setSpacing(9);
    layout->addWidget(m_avatar);
    layout->addWidget(m_lockBadge);
    layout->addWidget(m_name, 1);
    layout->addWidget(m_settings);
    m_name->setFont(WidgetStyle::font(14, QFont::Medium));
    m_name->setTextFormat(Qt::PlainText);
    m_name->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_avatar->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_lockBadge->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_settings->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_settings->setColor(WidgetStyle::tertiary(palette()));
    QSizePolicy keep = m_settings->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_settings->setSizePolicy(keep);
    m_settings->hide();
    connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
        if (action)
            action();
    });
    if (auth) {
        connect(auth, &AuthManager::tokenChanged, this, &AccountRow::refresh);
        connect(auth, &AuthManager::userChanged, this, &AccountRow::refresh);
        connect(auth, &AuthManager::readingChanged, this, &AccountRow::refresh);
    }
    refresh();
}

void AccountRow::refresh()
{
    if (m_auth && m_auth->isReading()) {
        // Neither "Sign in" nor a user until the keyring has answered.
        m_avatar->hide();
        m_lockBadge->hide();
        m_name->clear();
        setToolTip(QString());
        return;
    }
    present(SidebarFooter::account(m_auth && m_auth->token().has_value(),
                                   m_auth ? m_auth->user() : std::nullopt));
}

void AccountRow::present(const SidebarFooter::Account &account)
{
    m_shown = account;
    m_avatar->setVisible(account.showsUser);
    m_lockBadge->setVisible(!account.showsUser);
    if (account.showsUser)
        m_avatar->setUser(account.initial, account.avatarURL);
    m_name->setText(account.showsUser ? account.displayName : QStringLiteral("Sign in"));
    setToolTip(account.toolTip);
}

QString AccountRow::nameText() const
{
    return m_name->text();
}

QSize AccountRow::sizeHint() const
{
    return {200, 36};
}

void AccountRow::paintEvent(QPaintEvent *)
{
    if (!m_hovering)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(WidgetStyle::roundedRect(rect(), 8), WidgetStyle::primary(palette(), 0.05));
}

void AccountRow::enterEvent(QEnterEvent *)
{
    m_hovering = true;
    m_settings->show();
    update();
}

void AccountRow::leaveEvent(QEvent *)
{
    m_hovering = false;
    m_settings->hide();
    update();
}
