#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One running Tessivo per user and data folder. The first process listens on
// a local socket; a later launch hands its arguments (for example a
// "tessivo://" sign-in callback URL) to the running one and exits, and the
// running one brings its main window back.
//
// Those arguments can carry a sign-in's one-time token, so the socket lives
// in a folder only this user can enter: $XDG_RUNTIME_DIR, or else
// <temp>/tessivo-<uid>/ made with mode 0700. A folder that is not this
// user's own, not 0700 or a symbolic link is refused, and so is a peer of
// another user on either side of the socket; the app then runs without the
// guard.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    // `key` names the instance; processes with the same key are one app.
    explicit SingleInstance(const QString &key = defaultKey(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // The key of this user's data folder, so that runs with another HOME or
    // XDG_DATA_HOME (tests, other accounts) are separate apps.
    static QString defaultKey();

    // Hands `arguments` to a running instance. True when one took them (the
    // caller should exit); false when none runs.
    bool forwardToRunningInstance(const QStringList &arguments, int timeoutMs = 2000);

    // Starts listening; false when the socket cannot be set up (the app then
    // simply runs without a single-instance guard).
    bool listen();
    bool isListening() const;
    // The socket's path; empty when no safe folder was found.
    QString serverName() const { return m_serverName; }

    // The folder for the socket: the runtime folder when it is safe, else
    // `temp`/tessivo-<uid>, made if missing; empty when neither is safe.
    static QString socketFolder(const QString &runtimeFolder, const QString &temp);
    // True when `path` is a real folder (no symbolic link) of this user with
    // mode 0700.
    static bool isPrivateFolder(const QString &path);

Q_SIGNALS:
    // Another launch happened; `arguments` are its command-line arguments
    // without the program name.
    void activated(const QStringList &arguments);

private:
    void acceptConnections();

    QString m_serverName;
    QLocalServer *m_server = nullptr;
};
