#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// The one error value of the service client: a short machine code, the text
// shown to the user unchanged, and the HTTP status (0 when there was no
// HTTP reply). Every failure the service reports and every failure to reach
// it arrives as one of these; other subsystems add codes of their own.
struct APIError
{
    QString code;
    QString message;
    int status = 0;

    // What views show for the error.
    QString errorDescription() const { return message; }
    // The service doesn't know the session the request was sent with.
    bool isUnauthorized() const { return status == 401 || code == u"unauthorized"; }

    // The error for a reply outside 200-299, from its body and status. A
    // JSON object's "error" object, else its "error" or "message" string,
    // gives the code and message; any other body falls back on the status
    // alone. `status` is kept whatever the body says. Never fails.
    static APIError from(const QByteArray &data, int status);

    // The service could not be reached (refused, timed out, host unknown,
    // dropped, or a plain request that was aborted). Names the service's host.
    static APIError network(const QString &host);
    // A reply that is not an HTTP reply.
    static APIError unexpectedResponse();
    // A reply refused for its size while it arrived; nothing of it is used.
    static APIError replyTooLarge();
    bool isReplyTooLarge() const { return code == u"reply_too_large"; }
};

Q_DECLARE_METATYPE(APIError)
