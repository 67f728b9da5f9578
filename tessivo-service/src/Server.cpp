#include "Server.h"

#include "Peer.h"
#include "Replies.h"
#include "ServerPrivate.h"

#include "protocol/Routes.h"
#include "protocol/WireRecords.h"

#include <QDir>
#include <QMetaObject>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tessivo::server {

Q_LOGGING_CATEGORY(lcService, "tessivo.service")

namespace {
// Connections accepted at the cap that wait for a slot, unread.
constexpr int waitingRoom = 32;
// Descriptors kept free beside those the service holds once started (its
// listeners and database files) and the waiting room's: one to accept a
// client that is turned away or owed a slot, and those a running service
// opens later (an AI upstream, a log). With none left, the service would
// see nobody until a connection closes, whoever was owed a slot.
constexpr int spareDescriptors = 32;
// How long a client refused for want of room (a slot or a body's budget)
// is asked to wait before it tries again.
constexpr int busyRetryAfterSeconds = 10;
// What such a client is told, whatever it was refused.
constexpr char busyMessage[] = "The service is busy. Try again in a moment.";
// Image bytes read from the database per step of a streamed reply.
constexpr qint64 imagePieceBytes = 256 * protocol::kibibyte;

// Raises the soft descriptor limit to the hard one; the new soft limit.
int raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return int(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
}

// Descriptors this process has open.
int openDescriptors()
{
    // Less the one listing them.
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)
                   .size()) -
           1;
}

// The connection's own end: the address and port the client reached.
QHostAddress localAddress(qintptr descriptor, quint16 *port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(int(descriptor), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
    *port = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port
                                                : reinterpret_cast<sockaddr_in *>(&address)->sin_port);
    const QHostAddress local(reinterpret_cast<sockaddr *>(&address));
    bool isV4 = false;
    const quint32 v4 = local.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : local;
}

QHostAddress peerAddress(qintptr descriptor)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
    QHostAddress peer(reinterpret_cast<sockaddr *>(&address));
    // An IPv4 client on a dual-stack socket counts as itself.
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : peer;
}

// Answers a client that finds neither a slot nor room to wait, and closes
// at once: such clients may come faster than a lingering close would let
// their descriptors go.
void turnAway(qintptr descriptor)
{
    static const QByteArray reply = [] {
        const QByteArray body = ErrorBody{QStringLiteral("busy"), QString::fromLatin1(busyMessage)}.encoded();
        return "HTTP/1.1 503 " + reasonPhrase(503) + "\r\ncontent-type: application/json\r\nretry-after: " +
               QByteArray::number(busyRetryAfterSeconds) +
               "\r\nconnection: close\r\ncontent-length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
               body;
    }();
    const int socket = int(descriptor);
    ::send(socket, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    // What the request sent so far is read first: closing on unread bytes
    // would reset the connection, and the client might lose the reply.
    char scratch[16 * 1024];
    for (int i = 0; i < 4 && ::recv(socket, scratch, sizeof scratch, MSG_DONTWAIT) > 0; ++i) {
    }
    ::close(socket);
}

void refuseBusy(HttpConnection *connection, const QByteArray &code)
{
    connection->refuse(503, code, busyMessage, {{"retry-after", QByteArray::number(busyRetryAfterSeconds)}});
}

bool isUpload(const LoggedRequest &head)
{
    return isFor(head, protocol::Endpoint::uploadImage);
}
} // namespace

qint64 routeBodyLimit(const LoggedRequest &head)
{
    return protocol::bodyLimit(head.method, head.path);
}

Server::Server(ServerOptions options, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(this, std::move(options)))
{
    d->acceptRetry.setSingleShot(true);
    d->acceptRetry.setInterval(1000);
    connect(&d->acceptRetry, &QTimer::timeout, this, [this] { d->resumeAccepting(); });
    connect(&d->roomCheck, &QTimer::timeout, this, [this] { d->lookForRoom(); });
}

Server::~Server()
{
    stop();
}

bool Server::start(QString *error)
{
    d->startFailure = 1;
    const auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        stop();
        return false;
    };
    const int descriptors = raiseDescriptorLimit();
    d->roomCheck.setInterval(d->options.limits.progressCheckMs);

    QList<QPair<QHostAddress, quint16>> addresses = d->options.listen;
    const bool defaults = addresses.isEmpty();
    if (defaults)
        addresses = {{QHostAddress(QHostAddress::LocalHost), d->options.port},
                     {QHostAddress(QHostAddress::LocalHostIPv6), d->options.port}};
    if (d->options.publicUrl.isEmpty()) {
        for (const auto &[address, port] : std::as_const(addresses)) {
            if (!address.isLoopback())
                return fail(QStringLiteral("Listening on %1 needs --public-url: links in replies name the "
                                           "service, and only on loopback alone can it be "
                                           "http://localhost.")
                                .arg(address.toString()));
        }
    }
    // Every connection to an in-memory database has a database of its own:
    // such a service has one worker.
    const bool inMemory = d->options.database.endsWith(QLatin1String(":memory:"));
    const int threads = inMemory                       ? 1
                        : d->options.workerThreads > 0 ? d->options.workerThreads
                                                       : std::clamp(QThread::idealThreadCount(), 2, 8);
    QString problem;
    if (!d->pool.start(threads, d->options, d->clock, d->signInThrottle, &problem))
        return fail(problem);
    // Addresses aren't verified here, so --admin names an account that
    // already exists rather than one anybody may sign up with later. Checked
    // before listening, so that the answer doesn't depend on the port.
    QStringList missing;
    bool assigned = false;
    d->pool.runAndWait([&](Router &router) {
        assigned = router.storage().assignAdmins(d->options.adminEmails, &missing);
        if (!assigned && missing.isEmpty())
            problem = router.storage().lastError();
    });
    if (!assigned) {
        if (!missing.isEmpty())
            d->startFailure = 2;
        return fail(missing.isEmpty()
                        ? problem
                        : QStringLiteral("No account %1: create it with tessivo-service --create-admin %1")
                              .arg(missing.first()));
    }
    for (auto [address, port] : addresses) {
        // Loopback defaults share the port the first one was given.
        if (defaults && !d->listeners.isEmpty())
            port = d->listeners.first()->serverPort();
        auto *listener = new Listener([this](qintptr descriptor) { d->accept(descriptor); }, this);
        // Many clients connecting at once wait in the backlog rather than
        // have their handshakes dropped and retried seconds later.
        listener->setListenBacklogSize(4096);
        if (!listener->listen(address, port)) {
            const QString message = listener->errorString();
            delete listener;
            if (defaults && !d->listeners.isEmpty())
                continue; // no IPv6 loopback on this machine
            return fail(QStringLiteral("Couldn't listen on %1 port %2: %3")
                            .arg(address.toString())
                            .arg(port)
                            .arg(message));
        }
        // Out of descriptors: Qt stops accepting; a closing connection or
        // the retry timer starts it again.
        connect(listener, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
            d->pauseAccepting();
            d->acceptRetry.start();
        });
        d->listeners.append(listener);
    }
    // No client is accepted before the event loop runs.
    d->maxConnections = d->options.limits.maxConnections > 0
                            ? d->options.limits.maxConnections
                            : std::max(16, descriptors - openDescriptors() - waitingRoom - spareDescriptors);
    d->connectionSlots = ConnectionSlots(d->maxConnections, waitingRoom);
    // The workers read the options only for requests, and none has come yet.
    if (d->options.publicUrl.isEmpty())
        d->options.publicUrl = QStringLiteral("http://localhost:%1").arg(port());
    d->hosts = HostRule(QUrl(d->options.publicUrl));
    return true;
}

void Server::stop()
{
    d->pool.stop();
    d->roomCheck.stop();
    for (Listener *listener : std::as_const(d->listeners)) {
        listener->close();
        listener->deleteLater();
    }
    d->listeners.clear();
    // Open keep-alive connections go too: a stopped service is unreachable.
    for (HttpConnection *connection : findChildren<HttpConnection *>())
        connection->abort();
}

QUrl Server::baseUrl() const
{
    if (d->listeners.isEmpty())
        return {};
    const QTcpServer *first = d->listeners.first();
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(first->serverAddress().toString());
    url.setPort(first->serverPort());
    return url;
}

int Server::startFailureStatus() const
{
    return d->startFailure;
}

quint16 Server::port() const
{
    return d->listeners.isEmpty() ? 0 : d->listeners.first()->serverPort();
}

void Server::Private::accept(qintptr descriptor)
{
    const QHostAddress peer = peerAddress(descriptor);
    // Behind a trusted proxy the client is known only from a request: until
    // then the connection counts under the proxy's own group.
    const ClientGroup group = clientGroup(peer);
    if (connectionSlots.turnsAway(group)) {
        turnAway(descriptor);
        return;
    }
    quint16 localPort = 0;
    const QHostAddress local = localAddress(descriptor, &localPort);
    auto *connection =
        new HttpConnection(descriptor, peer, options.limits, options.trustedProxies, steadyClock, q);
    QObject::connect(connection, &HttpConnection::closed, q, [this, connection] { closed(connection); });
    QObject::connect(connection, &HttpConnection::headParsed, q,
                     [this, connection, local, localPort](const LoggedRequest &head) {
                         if (!hosts.accepts(head.header("host"), local, localPort)) {
                             connection->refuse(421, "misdirected_request",
                                                "This service doesn't answer for that host name.");
                             return;
                         }
                         connectionSlots.regroup(connection, clientGroup(head.peer));
                         countPeer(connection, peerKey(head.peer));
                     });
    QObject::connect(connection, &HttpConnection::refused, q, [this](const LoggedRequest &head) {
        if (onRefused)
            onRefused(head);
    });
    QObject::connect(connection, &HttpConnection::bodyAdmission, q,
                     [this, connection](const LoggedRequest &head) { admit(connection, head); });
    QObject::connect(connection, &HttpConnection::requestReady, q,
                     [this, connection](const LoggedRequest &request) {
                         if (front)
                             front(connection, request);
                         else
                             route(connection, request);
                     });
    HttpConnection *givingWay = nullptr;
    const bool taken = connectionSlots.arrive(connection, group, steadyClock.now(), &givingWay);
    if (givingWay)
        givingWay->reset(); // its slot is already the newcomer's
    if (!isTrustedProxy(peer, options.trustedProxies))
        countPeer(connection, peerKey(peer));
    if (taken)
        connection->start();
    else
        queueRoomCheck();
}

void Server::Private::countPeer(HttpConnection *connection, const QString &key)
{
    const QString previous = peerOf.value(connection);
    if (previous == key)
        return;
    if (!previous.isNull() && --perPeer[previous] <= 0)
        perPeer.remove(previous);
    peerOf.insert(connection, key);
    if (++perPeer[key] > options.limits.maxConnectionsPerPeer)
        connection->refuse(503, "busy", "Too many connections from your address.");
}

void Server::Private::closed(HttpConnection *connection)
{
    releaseBody(connection);
    const QString key = peerOf.take(connection);
    if (!key.isNull() && --perPeer[key] <= 0)
        perPeer.remove(key);
    if (HttpConnection *next = connectionSlots.leave(connection))
        next->start();
    resumeAccepting();
}

void Server::Private::pauseAccepting()
{
    acceptPaused = true;
    for (Listener *listener : std::as_const(listeners))
        listener->pauseAccepting();
}

void Server::Private::resumeAccepting()
{
    if (!acceptPaused)
        return;
    acceptPaused = false;
    for (Listener *listener : std::as_const(listeners))
        listener->resumeAccepting();
}

void Server::Private::queueRoomCheck()
{
    if (!roomCheck.isActive())
        roomCheck.start();
    if (roomCheckQueued)
        return;
    roomCheckQueued = true;
    QMetaObject::invokeMethod(
        q,
        [this] {
            roomCheckQueued = false;
            lookForRoom();
        },
        Qt::QueuedConnection);
}

void Server::Private::lookForRoom()
{
    QList<HttpConnection *> expired;
    const QList<ConnectionSlots::Move> moves =
        connectionSlots.makeRoom(steadyClock.now(), options.limits.headDeadlineMs, &expired);
    for (const ConnectionSlots::Move &move : moves) {
        move.givingWay->reset();
        move.newcomer->start();
    }
    for (HttpConnection *connection : std::as_const(expired))
        refuseBusy(connection, "busy");
    replyBudget->grantWaiting();
    if (!connectionSlots.hasWaiting() && !replyBudget->hasWaiting())
        roomCheck.stop();
}

void Server::Private::admit(HttpConnection *connection, const LoggedRequest &head)
{
    const qint64 declared = head.header("content-length").toLongLong();
    if (declared > routeBodyLimit(head)) {
        connection->admitBody(routeBodyLimit(head)); // refused at once, before asking who it is
        return;
    }
    // Who is asking is a database question: the pool answers it.
    QPointer<HttpConnection> guard(connection);
    LoggedRequest headOnly = head;
    pool.post([this, guard, headOnly, declared](Router &router) {
        QString userId;
        const qint64 limit = router.bodyLimit(headOnly, &userId);
        QMetaObject::invokeMethod(
            q,
            [this, guard, headOnly, declared, limit, userId] {
                if (!guard)
                    return;
                if (limit >= 0 && declared <= limit) {
                    if (isUpload(headOnly) && uploads.value(userId) >= options.limits.maxUploadsPerAccount) {
                        guard->refuse(429, "too_many_uploads", "Wait for your other uploads to finish.");
                        return;
                    }
                    QList<HttpConnection *> cut;
                    const bool held = bodyBudget.hold(
                        guard, {userId, peerKey(headOnly.peer), clientGroup(headOnly.peer), declared}, &cut);
                    // Sent again later, each body cut off for this one.
                    for (HttpConnection *body : std::as_const(cut)) {
                        releaseBody(body);
                        refuseBusy(body, "unavailable");
                    }
                    if (!held) {
                        refuseBusy(guard, "unavailable");
                        return;
                    }
                    if (isUpload(headOnly)) {
                        ++uploads[userId];
                        uploadOf.insert(guard, userId);
                    }
                }
                guard->admitBody(limit);
            },
            Qt::QueuedConnection);
    });
}

void Server::Private::releaseBody(HttpConnection *connection)
{
    const QString userId = uploadOf.take(connection);
    if (!userId.isNull() && --uploads[userId] <= 0)
        uploads.remove(userId);
    bodyBudget.release(connection);
}

void Server::Private::route(HttpConnection *connection, const LoggedRequest &request)
{
    QPointer<HttpConnection> guard(connection);
    // Posting the sign-in form hashes a password: about half a second of
    // one processor, by design.
    const bool heavy = isFor(request, protocol::Endpoint::signInForm);
    pool.post(
        [this, guard, request](Router &router) {
            Outcome outcome = router.dispatch(request);
            QMetaObject::invokeMethod(
                q,
                [this, guard, request, outcome = std::move(outcome)] {
                    if (guard)
                        deliver(guard, request, outcome);
                },
                Qt::QueuedConnection);
        },
        heavy, peerKey(request.peer));
}

void Server::Private::deliver(HttpConnection *connection, const LoggedRequest &request,
                              const Outcome &outcome)
{
    releaseBody(connection);
    const Reply &reply = outcome.reply;
    if (reply.status >= 500)
        qCWarning(lcService, "%s %s answered %d: %s", request.method.constData(), qPrintable(request.path),
                  reply.status, qPrintable(outcome.failure));
    if (outcome.ai)
        return ai.forward(connection, *outcome.ai, reply.headers);
    if (outcome.image)
        return streamImage(connection, reply, *outcome.image);
    if (outcome.pull)
        return streamPull(connection, reply, outcome.pull, clientGroup(request.peer));
    connection->reply(reply.status, reply.headers, reply.body);
}

void Server::Private::streamImage(HttpConnection *connection, const Reply &head, const ImageRow &image)
{
    // Only one piece is read ahead: the rest waits in the database until
    // the client has taken most of what was sent.
    struct Stream
    {
        qint64 offset = 0;
        bool reading = false;
        QMetaObject::Connection wants;
    };
    auto stream = std::make_shared<Stream>();
    QPointer<HttpConnection> guard(connection);
    stream->wants =
        QObject::connect(connection, &HttpConnection::wantsBody, connection, [this, guard, stream, image] {
            if (stream->reading)
                return;
            stream->reading = true;
            pool.postFollowUp([this, guard, stream, image](Router &router) {
                QByteArray piece;
                const bool ok = router.storage().imagePiece(
                    image.id, stream->offset, std::min(imagePieceBytes, image.size - stream->offset), &piece);
                const QString problem = ok ? QString() : router.storage().lastError();
                QMetaObject::invokeMethod(
                    q,
                    [guard, stream, image, piece, problem] {
                        if (!guard)
                            return;
                        stream->reading = false;
                        if (!problem.isNull() || piece.isEmpty()) {
                            qCWarning(lcService, "GET /media/%s broke off: %s", qPrintable(image.id),
                                      qPrintable(problem.isNull() ? QStringLiteral("the image is shorter")
                                                                  : problem));
                            guard->abort();
                            return;
                        }
                        stream->offset += piece.size();
                        if (stream->offset >= image.size)
                            QObject::disconnect(stream->wants);
                        guard->writeBody(piece);
                    },
                    Qt::QueuedConnection);
            });
        });
    connection->beginBody(head.status, head.headers, image.size);
}

// A pull's reply in flight: its head and, until begun, the body made so
// far; one read of it at a time.
struct PullStream
{
    Reply start;
    std::shared_ptr<PullReply> body;
    ClientGroup group;
    bool reading = false;
    QMetaObject::Connection wants;
};

void Server::Private::streamPull(HttpConnection *connection, const Reply &start,
                                 const std::shared_ptr<PullReply> &body, const ClientGroup &group)
{
    auto stream = std::make_shared<PullStream>(PullStream{start, body, group, false, {}});
    QPointer<HttpConnection> guard(connection);
    if (!body->begun())
        return waitForRoom(guard, stream);
    // As with images, the next part is read once the client has taken most
    // of what was sent, so that an unread pull holds about one part.
    stream->wants = QObject::connect(connection, &HttpConnection::wantsBody, connection,
                                     [this, guard, stream] { readPull(guard, stream); });
    connection->beginStream(start.status, start.headers);
    connection->writeChunk(start.body);
    stream->start.body.clear();
}

void Server::Private::waitForRoom(const QPointer<HttpConnection> &connection,
                                  const std::shared_ptr<PullStream> &stream)
{
    // Counted as a read under way, so that a reader taking the rest of what
    // was sent doesn't ask again meanwhile.
    stream->reading = true;
    replyBudget->request(stream->group, stream->body->roomWanted(), connection,
                         [this, connection, stream](ReplyBudget::Hold room) {
                             stream->body->giveRoom(std::move(room));
                             stream->reading = false;
                             readPull(connection, stream);
                         });
    // Readers that fall behind later give way to it then.
    if (replyBudget->hasWaiting())
        queueRoomCheck();
}

void Server::Private::readPull(const QPointer<HttpConnection> &connection,
                               const std::shared_ptr<PullStream> &stream)
{
    if (!connection || stream->reading)
        return;
    stream->reading = true;
    pool.postFollowUp([this, guard = connection, stream](Router &router) {
        const bool begun = stream->body->begun();
        QByteArray part;
        const PullReply::Step step =
            begun ? stream->body->next(router.storage(), router.context().now(), &part)
                  : stream->body->start(router.storage(), router.context().now(), &stream->start.body);
        const bool finished = stream->body->finished();
        const QString problem = step == PullReply::Step::Failed ? router.storage().lastError() : QString();
        QMetaObject::invokeMethod(
            q,
            [this, guard, stream, begun, step, part, finished, problem] {
                if (!guard)
                    return;
                if (step == PullReply::Step::Waiting)
                    return waitForRoom(guard, stream);
                stream->reading = false;
                if (step == PullReply::Step::Failed) {
                    qCWarning(lcService, "GET %s broke off: %s",
                              qPrintable(protocol::routePath(protocol::Endpoint::pull)), qPrintable(problem));
                    if (begun)
                        return guard->abort();
                    const Reply failed = errorReply(
                        500, "internal_error", QStringLiteral("The service couldn't read your documents."));
                    return guard->reply(failed.status, failed.headers, failed.body);
                }
                if (!begun) {
                    if (finished)
                        return guard->reply(stream->start.status, stream->start.headers, stream->start.body);
                    return streamPull(guard, stream->start, stream->body, stream->group);
                }
                if (finished)
                    QObject::disconnect(stream->wants);
                guard->writeChunk(part);
                if (finished)
                    guard->endStream();
            },
            Qt::QueuedConnection);
    });
}

} // namespace tessivo::server
