#pragma once

#include <QList>
#include <QWidget>

class AuthManager;
class BusyIndicator;
class QLabel;
class QPushButton;
class SettingsSection;
class SyncEngine;

// The Account tab: browser sign-in with each provider, who is signed in,
// "Sync Now" and "Sign Out", and the last error of the sign-in state. It
// keeps no state: every face follows the AuthManager, and each button only
// starts an operation there or on the sync engine.
//
// Each time the tab comes on screen it refreshes the account record. That
// refresh runs to its end even when the tab goes away again: cutting it
// short would surface as a "Couldn't reach …" error the user never caused.
class AccountSettings final : public QWidget
{
    Q_OBJECT

public:
    // `auth` and `sync` are not owned and must outlive the tab; "Sync Now"
    // syncs with `sync`.
    AccountSettings(AuthManager *auth, SyncEngine &sync, QWidget *parent = nullptr);

    QList<QPushButton *> providerButtons() const { return m_providers; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *syncButton() const { return m_syncNow; }
    QPushButton *signOutButton() const { return m_signOut; }
    QLabel *nameLabel() const { return m_name; }
    QLabel *emailLabel() const { return m_email; }
    QLabel *errorLabel() const { return m_error; }

Q_SIGNALS:
    // The face changed (signed in or out, an error line came or went): the
    // window fits its height to the new content.
    void contentChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void render();
    void showInRed();

    AuthManager *m_auth;
    SyncEngine *m_sync;
    SettingsSection *m_signedIn;
    SettingsSection *m_actions;
    SettingsSection *m_signIn;
    SettingsSection *m_errorSection;
    QLabel *m_name;
    QLabel *m_email;
    QPushButton *m_syncNow;
    QPushButton *m_signOut;
    QList<QPushButton *> m_providers;
    QList<BusyIndicator *> m_busy;
    QWidget *m_cancelRow;
    QPushButton *m_cancel;
    QLabel *m_error;
};
