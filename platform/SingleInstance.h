#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One running Tessivo per user and data folder. The process that holds a
// lock (flock on a file beside the socket) owns the instance and listens on
// a local socket; a later launch hands its arguments (for example a
// "tessivo://" sign-in callback URL) to it and exits, and the running one
// brings its main window back. Who owns the socket is decided by the lock
// alone, never by whether a connection answers in time: a running app that
// is slow or stopped keeps its socket.
//
// Those arguments can carry a sign-in's one-time token, so the socket lives
// in a folder only this user can enter: $XDG_RUNTIME_DIR, or else
// $XDG_STATE_HOME/tessivo (~/.local/state/tessivo by default) made with mode
// 0700. A folder that is not this user's own, not 0700 or a symbolic link is
// refused, and so is a peer of another user on either side of the socket;
// the app then runs without the guard. Where the folder's path is too long
// for a socket address, the socket is reached through the folder's open
// descriptor (/proc/self/fd), so the address stays short.
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

    enum class Launch {
        first,        // no instance runs: this process is it (or runs alone)
        handedOver,   // the running instance took the arguments: exit
        notAnswering, // one runs but didn't take them in time: exit with 1
    };
    // Takes the lock, or hands `arguments` to the instance that holds it,
    // waiting up to `timeoutMs` for it to take them.
    Launch handOver(const QStringList &arguments, int timeoutMs = answerTimeoutMs);
    static constexpr int answerTimeoutMs = 5000;
    // What a launch that gets Launch::notAnswering prints on stderr.
    static QString notAnsweringMessage();
    // What a launch prints on stderr when `what` ("a folder", "a symbolic
    // link") stands at the lock's path, where no launch can take the lock.
    // The launch then runs on its own, without the guard.
    static QString unusableLockMessage(const QString &lockPath, const QString &what);

    // Starts listening; only the lock's holder listens (a socket left there
    // is then a dead instance's and goes). False when this process does not
    // hold the lock or the socket cannot be set up (the app then simply runs
    // without a single-instance guard).
    bool listen();
    bool isListening() const;
    // The socket's address; empty when no safe folder was found.
    QString serverName() const { return m_serverName; }

    // The folder for the socket: the runtime folder when it is safe, else
    // `stateFolder` (made if missing, mode 0700); empty when neither is safe.
    static QString socketFolder(const QString &runtimeFolder, const QString &stateFolder);
    // $XDG_STATE_HOME/tessivo, or ~/.local/state/tessivo.
    static QString stateFolder();
    // True when `path` is a real folder (no symbolic link) of this user with
    // mode 0700.
    static bool isPrivateFolder(const QString &path);

Q_SIGNALS:
    // Another launch happened; `arguments` are its command-line arguments
    // without the program name.
    void activated(const QStringList &arguments);

private:
    enum class LockResult { locked, heldElsewhere, unusable };
    LockResult tryLock();
    bool deliver(const QByteArray &message, int timeoutMs) const;
    void acceptConnections();

    QString m_serverName;
    QString m_lockPath;
    int m_folderFd = -1;
    int m_lockFd = -1;
    QLocalServer *m_server = nullptr;
};
