#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace tessivo::server {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// What any one client or account may hold and how often it may ask, in one
// place. A "peer" is a client's IPv4 address or IPv6 /64 (::1 and 127.0.0.1
// are one peer). The connection limits are enforced in HttpConnection and
// Server, the sign-in and sign-up ones in SignInThrottle, the quota by the
// routes that store images and documents.
struct ServiceLimits
{
    // Open connections at once, overall (0: the descriptors left once the
    // service has started, less 64) and per peer. At the overall cap the
    // slots are shared between networks and client groups (see
    // ConnectionSlots).
    int maxConnections = 0;
    int maxConnectionsPerPeer = 256;
    // The whole request head must arrive this long after accept (or, on a
    // kept-alive connection, after its first byte).
    int headDeadlineMs = 10 * 1000;
    qsizetype maxHeadBytes = 64 * 1024;
    // A body being received, and a reply its reader has yet to take, must
    // move at least this many bytes a second averaged over the window; a
    // transfer that falls behind over a whole window is cut off (408 for a
    // body). At the connection cap one that is behind after the grace gives
    // way. What a reply's reader takes in the grace doesn't count: the
    // kernels' buffers on the way take theirs then too. Progress is looked
    // at every `progressCheckMs`.
    qint64 floorBytesPerSecond = 1024;
    int floorWindowMs = 60 * 1000;
    int floorGraceMs = 2 * 1000;
    int progressCheckMs = 1000;
    // A kept-alive connection between requests, and a reply that produces
    // nothing, is closed after this long.
    int idleTimeoutMs = 120 * 1000;
    // The next request on a connection is read only once the reply before
    // it has drained below this, and a reply sent in pieces asks for the
    // next one then; a client that pipelines and never reads holds one
    // reply's worth of memory.
    qint64 drainBytes = 64 * 1024;
    // A streamed reply that piles up more than this unread is dropped.
    qint64 maxQueuedBytes = 16 * 1024 * 1024;
    // Large bodies (over 64 KiB) being received, by declared length: at
    // most this much at once in the process, and at most a share of it per
    // account and per peer. A body that doesn't fit, and that no group
    // holding more makes room for, answers 503 with Retry-After before any
    // of it is read.
    qint64 bodyBudgetBytes = 256LL * 1024 * 1024;
    qint64 bodyShareBytes = 160LL * 1024 * 1024;
    // Image uploads being received at once per account.
    int maxUploadsPerAccount = 2;
    // Bytes each account may keep: every stored field of its documents
    // (live and deleted), collections, publications and images. A write
    // that would take an account past it is refused.
    qint64 quotaBytes = 1024LL * 1024 * 1024;
    // A pull answers with about this many bytes of records at most (and at
    // least one record), "more" telling the client to ask again: the rule
    // the app reads pulls by, unless a test sets it.
    qint64 pullPieceBytes = protocolPullPieceBytes();
    // A piece goes out in parts of about this many bytes, each read from
    // the database once the reader has taken most of the one before: a
    // pull left unread holds about a part.
    qint64 pullPartBytes = 256 * 1024;
    // A part with a record larger than that is read only with room for it
    // here, held until the record has been taken: at most this much in the
    // process, and at most half of it per client group (an IPv4 /24 or
    // IPv6 /48) unless the group holds nothing; a reply waits for its turn,
    // the group holding least first.
    qint64 replyBudgetBytes = 256LL * 1024 * 1024;
    // Failed sign-ins per peer, and per peer and account, within the window.
    int signInFailuresPerPeer = 10;
    qint64 signInWindowMs = 10 * 60 * 1000;
    // Past this many failed sign-ins to one account (or unknown e-mail
    // address) within the window, from anywhere, the account's password is
    // checked at most once per interval; peers that signed in to it within
    // `knownPeerMs` are exempt.
    int signInFailuresPerAccount = 20;
    qint64 accountWindowMs = 60 * 60 * 1000;
    qint64 accountCheckIntervalMs = 10 * 1000;
    qint64 knownPeerMs = 30LL * 24 * 3600 * 1000;
    // Sign-up attempts, and new accounts among them, per peer within the
    // window.
    int signUpAttemptsPerPeer = 10;
    int signUpsPerPeer = 5;
    qint64 signUpWindowMs = 60 * 60 * 1000;

    // One line per limit, for --help.
    QStringList describe() const;

private:
    static qint64 protocolPullPieceBytes();
};

struct ServerOptions
{
    // Empty: 127.0.0.1 and ::1 on `port` (0 picks a free port).
    QList<QPair<QHostAddress, quint16>> listen;
    quint16 port = 8787;
    // "sqlite:<path>" (":memory:" allowed) or "postgres:<libpq-style options>".
    // Empty: SQLite in the XDG data folder.
    QString database;
    // An OpenAI-compatible chat-completions endpoint; empty: AI not set up.
    QUrl aiEndpoint;
    QString aiModel;
    QString aiKey;
    // Scheme, host and port for links in replies ("https://example.com");
    // empty: http://localhost:<port>, which only a service listening on
    // loopback alone may use.
    QString publicUrl;
    // The reverse proxies in front of the service: a request from one of
    // them counts against the rightmost X-Forwarded-For address that is not
    // one of them.
    QList<QHostAddress> trustedProxies;
    ServiceLimits limits;
    // Threads that run SQL and password hashing, each with a database
    // connection of its own (0: one per processor, at most 8).
    int workerThreads = 0;
    // Accounts with these e-mail addresses are admins: their "site-blog"
    // collection is the service's blog.
    QStringList adminEmails;
    // A session token is replaced through "set-auth-token" once it is this
    // old; the replaced token keeps working for the grace period.
    qint64 sessionRollAfterMs = 24 * 3600 * 1000;
    qint64 sessionGraceMs = 5 * 60 * 1000;
    // A session ends this long after it was made or last rolled.
    qint64 sessionLifetimeMs = 30LL * 24 * 3600 * 1000;
    qint64 oneTimeTokenLifetimeMs = 5 * 60 * 1000;
    // PBKDF2-SHA256 rounds for new password hashes (stored with each hash,
    // so changing it keeps old accounts working). Tests lower it.
    int passwordIterations = 310000;
};

// One request as it arrived, headers with their names as sent.
struct LoggedRequest
{
    QByteArray method;
    QString path;          // decoded path, no query
    QByteArray rawQuery;   // as sent, without "?"; empty when there was none
    bool hadQuery = false; // a "?" was present
    HeaderList headers;
    QByteArray body;
    // The client: the socket's peer, or for a request from a trusted proxy
    // the rightmost X-Forwarded-For address that is not a trusted proxy.
    QHostAddress peer;

    // Case-insensitive lookup; null when absent.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
};

} // namespace tessivo::server
