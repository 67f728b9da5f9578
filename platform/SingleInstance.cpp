#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>

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

} // namespace

SingleInstance::SingleInstance(const QString &key, QObject *parent)
    : QObject(parent), m_serverName(QStringLiteral("tessivo-%1-%2").arg(getuid()).arg(key))
{}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultKey()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QString::fromLatin1(
        QCryptographicHash::hash(data.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
}

bool SingleInstance::forwardToRunningInstance(const QStringList &arguments, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
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
