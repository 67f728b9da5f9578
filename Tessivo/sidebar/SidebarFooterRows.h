#pragma once

#include "sidebar/core/SidebarFooter.h"

#include <QAbstractButton>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>

class AuthManager;
class Icon;
class Pulse;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;

// One line at the foot of the sidebar saying whether documents stay on this
// computer or how syncing goes, with the detail in its tooltip.
class SyncStatusRow final : public QWidget
{
    Q_OBJECT

public:
    // Follows `auth`'s token and `sync`'s status; `serviceHost` names the
    // service in the tooltip.
    SyncStatusRow(AuthManager *auth, SyncEngine *sync, const QString &serviceHost, QWidget *parent = nullptr);

    const SidebarFooter::SyncStatus &shown() const { return m_shown; }
    // Shows `status` until the observed state next changes.
    void present(const SidebarFooter::SyncStatus &status);
    bool isPulsing() const;
    void setServiceHost(const QString &host);

protected:
    bool event(QEvent *event) override;

private:
    void refresh();
    void apply(const SidebarFooter::SyncStatus &status);

    QPointer<AuthManager> m_auth;
    QPointer<SyncEngine> m_sync;
    QString m_serviceHost;
    SidebarFooter::SyncStatus m_shown;
    bool m_presented = false;
    // The signed-out line's icon, and the signed-in row's in its 18-pixel column.
    Icon *m_icon;
    QWidget *m_statusFrame;
    Icon *m_statusIcon;
    QLabel *m_text;
    Pulse *m_pulse;
};

// The round picture of the signed-in user: the initial on an accent circle,
// covered by the user's image once it has loaded over http or https.
class Avatar final : public QWidget
{
    Q_OBJECT

public:
    // Loads pictures through `network` (not owned; null loads none).
    explicit Avatar(QNetworkAccessManager *network, QWidget *parent = nullptr);
    ~Avatar() override;

    void setUser(const QString &initial, const QUrl &image);
    QString initial() const { return m_initial; }
    QUrl imageURL() const { return m_url; }
    bool hasImage() const { return !m_image.isNull(); }

    QSize sizeHint() const override { return {26, 26}; }

    // Pictures larger than this are not loaded.
    static constexpr qint64 maximumImageBytes = 4 * 1024 * 1024;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void load();

    QString m_initial;
    QUrl m_url;
    QImage m_image;
    QPointer<QNetworkAccessManager> m_network;
    QPointer<QNetworkReply> m_reply;
};

// The button showing the signed-in user, or a "Sign in" prompt; it opens the
// settings window.
class AccountRow final : public QAbstractButton
{
    Q_OBJECT

public:
    // `network` loads the avatar (see Avatar).
    AccountRow(std::function<void()> action, AuthManager *auth, QNetworkAccessManager *network,
               QWidget *parent = nullptr);

    const SidebarFooter::Account &shown() const { return m_shown; }
    void present(const SidebarFooter::Account &account);
    bool isHovering() const { return m_hovering; }
    Avatar *avatar() const { return m_avatar; }
    QString nameText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void refresh();

    QPointer<AuthManager> m_auth;
    SidebarFooter::Account m_shown;
    bool m_hovering = false;
    Avatar *m_avatar;
    QWidget *m_lockBadge;
    QLabel *m_name;
    Icon *m_settings;
};
