#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A launch message is one JSON array of strings followed by a line feed.
constexpr qint64 maximumMessageBytes = 64 * 1024;

QStringList decode(const QByteArray &line)
{
    QStringList arguments;
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isArray())
        return arguments;
    const QJsonArray array = document.array();
    for (const QJsonValue &value : array)
        if (value.isString())
            arguments << value.toString();
    return arguments;
}

// True when the process at the other end of the connected socket runs as
// this user.
bool peerIsThisUser(const QLocalSocket &socket)
{
    struct ucred credentials = {};
    socklen_t size = sizeof credentials;
    const int fd = int(socket.socketDescriptor());
    return fd >= 0 && getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           size == sizeof credentials && credentials.uid == getuid();
}

} // namespace

SingleInstance::SingleInstance(const QString &key, QObject *parent) : QObject(parent)
{
    const QString folder = socketFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), stateFolder());
    if (folder.isEmpty()) {
        qWarning("[shell] no private folder for the single-instance socket: every launch runs on its own");
        return;
    }
    const QString name = QStringLiteral("tessivo-") + key;
    m_lockPath = folder + u'/' + name + QStringLiteral(".lock");
    m_serverName = folder + u'/' + name;
    if (QFile::encodeName(m_serverName).size() < qsizetype(sizeof(sockaddr_un::sun_path)))
        return;
    // A deep home: the address goes through the folder's descriptor, which
    // stays open (and points at this folder) for the process's life.
    m_folderFd = ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folderFd >= 0)
        m_serverName = QStringLiteral("/proc/self/fd/%1/").arg(m_folderFd) + name;
    if (m_folderFd < 0 ||
        QFile::encodeName(m_serverName).size() >= qsizetype(sizeof(sockaddr_un::sun_path))) {
        qWarning("[shell] the single-instance socket's path is too long: every launch runs on its own");
        m_serverName.clear();
    }
}

bool SingleInstance::isPrivateFolder(const QString &path)
{
    struct stat info = {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0 &&
           S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 07777) == 0700;
}

QString SingleInstance::stateFolder()
{
    // Qt has no standard location for state: the XDG rule, by hand. A
    // relative XDG_STATE_HOME is invalid and ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/tessivo");
}

QString SingleInstance::socketFolder(const QString &runtimeFolder, const QString &stateFolder)
{
    if (isPrivateFolder(runtimeFolder))
        return runtimeFolder;
    if (stateFolder.isEmpty())
        return {};
    // In this user's home no one else can put anything in the way. Made
    // with its mode, so that there is no moment when others may enter; one
    // of ours with a looser mode is closed up. Whatever else is there must
    // pass the same check.
    QDir().mkpath(QFileInfo(stateFolder).path());
    const QByteArray path = QFile::encodeName(stateFolder);
    (void)::mkdir(path.constData(), 0700);
    struct stat info = {};
    if (::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid())
        (void)::chmod(path.constData(), 0700);
    return isPrivateFolder(stateFolder) ? stateFolder : QString();
}

SingleInstance::~SingleInstance()
{
    delete m_server;
    m_server = nullptr;
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    if (m_folderFd >= 0)
        ::close(m_folderFd);
}

QString SingleInstance::defaultKey()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QString::fromLatin1(
        QCryptographicHash::hash(data.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
}

QString SingleInstance::notAnsweringMessage()
{
    return QStringLiteral("Tessivo is already running but not answering.");
}

QString SingleInstance::unusableLockMessage(const QString &lockPath, const QString &what)
{
    return QStringLiteral("Tessivo can't use its lock file %1: %2 is in its place. Remove it, and Tessivo "
                          "will again keep to one window; until then, each launch runs on its own.")
        .arg(lockPath, what);
}

SingleInstance::LockResult SingleInstance::tryLock()
{
    if (m_lockFd >= 0)
        return LockResult::locked;
    // Close-on-exec: a browser started by the app must not hold the lock
    // after the app has ended. No link is followed, and nothing else in the
    // way (a pipe) is waited on.
    const QByteArray path = QFile::encodeName(m_lockPath);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat info = {};
    const bool regular = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!regular) {
        // Not a lock another launch holds: something no launch can ever
        // lock is in the way, and every launch would wait on the socket
        // for an app that isn't running.
        if (fd >= 0)
            ::close(fd);
        struct stat there = {};
        if (::lstat(path.constData(), &there) != 0)
            return LockResult::heldElsewhere;
        const QString what = S_ISLNK(there.st_mode)   ? QStringLiteral("a symbolic link")
                             : S_ISDIR(there.st_mode) ? QStringLiteral("a folder")
                             : S_ISREG(there.st_mode) ? QStringLiteral("a file Tessivo may not open")
                                                      : QStringLiteral("something that is not a file");
        qWarning("%s", qPrintable(unusableLockMessage(m_lockPath, what)));
        return LockResult::unusable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return LockResult::heldElsewhere;
    }
    m_lockFd = fd;
    return LockResult::locked;
}

SingleInstance::Launch SingleInstance::handOver(const QStringList &arguments, int timeoutMs)
{
    if (m_serverName.isEmpty() || tryLock() != LockResult::heldElsewhere)
        return Launch::first;
    QByteArray message = QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact);
    message += '\n';
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (deliver(message, int(deadline.remainingTime())))
            return Launch::handedOver;
        // The owner may have ended since (its lock is gone with it), or may
        // not be listening yet (it has only just started).
        if (tryLock() != LockResult::heldElsewhere)
            return Launch::first;
        QThread::msleep(quint64(std::min<qint64>(50, deadline.remainingTime())));
    }
    return Launch::notAnswering;
}

bool SingleInstance::deliver(const QByteArray &message, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    if (!peerIsThisUser(socket)) {
        qWarning("[shell] the single-instance socket belongs to another user: not used");
        return false;
    }
    socket.write(message);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    // Wait for the running instance to acknowledge, so that a launch that
    // reports success really reached it.
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    if (m_server)
        return m_server->isListening();
    if (m_serverName.isEmpty() || m_lockFd < 0)
        return false;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // This process holds the lock, so a socket there is one a crashed
    // instance left behind.
    QLocalServer::removeServer(m_serverName);
    if (!m_server->listen(m_serverName)) {
        qWarning("[shell] single-instance socket unavailable: %s", qPrintable(m_server->errorString()));
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (!peerIsThisUser(*socket)) {
            qWarning("[shell] refused a launch message from another user");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maximumMessageBytes)
                    socket->abort(); // not one of ours
                return;
            }
            const QStringList arguments = decode(socket->readLine(maximumMessageBytes).trimmed());
            socket->write("ok\n");
            socket->flush();
            Q_EMIT activated(arguments);
        });
    }
}
