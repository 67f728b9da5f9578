#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>

#include <sys/socket.h>
#include <sys/stat.h>
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
    const QString folder = socketFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath());
    if (folder.isEmpty())
        qWarning("[shell] no private folder for the single-instance socket: every launch runs on its own");
    else
        m_serverName = folder + QStringLiteral("/tessivo-") + key;
}

bool SingleInstance::isPrivateFolder(const QString &path)
{
    struct stat info = {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0 &&
           S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 07777) == 0700;
}

QString SingleInstance::socketFolder(const QString &runtimeFolder, const QString &temp)
{
    if (isPrivateFolder(runtimeFolder))
        return runtimeFolder;
    const QString own = temp + QStringLiteral("/tessivo-") + QString::number(getuid());
    // Made with its mode, so that there is no moment when others may enter;
    // whatever was there already must pass the same check.
    (void)::mkdir(QFile::encodeName(own).constData(), 0700);
    return isPrivateFolder(own) ? own : QString();
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultKey()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QString::fromLatin1(
        QCryptographicHash::hash(data.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
}

bool SingleInstance::forwardToRunningInstance(const QStringList &arguments, int timeoutMs)
{
    if (m_serverName.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    if (!peerIsThisUser(socket)) {
        qWarning("[shell] the single-instance socket belongs to another user: not used");
        return false;
    }
    QByteArray message = QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact);
    message += '\n';
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // Wait for the running instance to acknowledge, so that a launch that
    // reports success really reached it.
    if (!socket.waitForReadyRead(timeoutMs))
        return false;
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    if (m_server)
        return m_server->isListening();
    if (m_serverName.isEmpty())
        return false;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        // A socket file left by a process that crashed: nobody answers on it
        // (forwardToRunningInstance failed), so it can go.
        QLocalServer::removeServer(m_serverName);
        if (!m_server->listen(m_serverName)) {
            qWarning("[shell] single-instance socket unavailable: %s", qPrintable(m_server->errorString()));
            return false;
        }
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
