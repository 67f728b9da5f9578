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
    // The reverse proxy in front of the service: its requests are counted
    // against the first X-Forwarded-For address rather than its own.
    QHostAddress trustedProxy;
    // Open connections at once, overall (0: the descriptor limit less 64)
    // and per client address.
    int maxConnections = 0;
    int maxConnectionsPerPeer = 256;
    // Threads that run SQL and password hashing, each with a database
    // connection of its own (0: one per processor, at most 8).
    int workerThreads = 0;
    // A request head must be complete this long after its first byte;
    // a silent connection is closed after the idle timeout.
    int headDeadlineMs = 10 * 1000;
    int idleTimeoutMs = 120 * 1000;
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
    // Bytes each account may keep: the bodies of its live documents and its
    // images. A write that would take an account past it is refused.
    qint64 quotaBytes = 1024LL * 1024 * 1024;
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
    // The client: the socket's peer, or the first X-Forwarded-For address
    // of a request from the trusted proxy.
    QHostAddress peer;

    // Case-insensitive lookup; null when absent.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
};

} // namespace tessivo::server
