#include "Replies.h"

#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QJsonDocument>

namespace tessivo::server {

Reply jsonReply(int status, const QJsonObject &object)
{
    return {
        status, {{"content-type", "application/json"}}, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

Reply errorReply(int status, const QByteArray &code, const QString &message)
{
    return jsonReply(status, ErrorBody{QString::fromLatin1(code), message}.toJson());
}

Reply unauthorizedReply()
{
    return jsonReply(401, ErrorBody::unauthorized().toJson());
}

Reply redirectToApp(QLatin1StringView item, const QString &value)
{
    return {303, {{"location", protocol::signInCallback::link(item, value)}}, {}};
}

bool isFor(const LoggedRequest &request, protocol::Endpoint endpoint)
{
    const protocol::Route *route = protocol::matchRoute(request.method, request.path).route;
    return route && route->endpoint == endpoint;
}

Reply quotaExceededReply()
{
    return errorReply(413, "quota_exceeded", QStringLiteral("Your storage on this service is full."));
}

Reply unavailableReply()
{
    return errorReply(503, "unavailable",
                      QStringLiteral("The service can't save right now. Try again later."));
}

Reply htmlReply(int status, const QString &html)
{
    // Pages show what users wrote: no scripts, no styles of theirs, no forms
    // posting elsewhere, and no framing by another site's page.
    return {status,
            {{"content-type", "text/html; charset=utf-8"},
             {"content-security-policy", "default-src 'none'; img-src * data:; style-src 'self'; "
                                         "form-action 'self' tessivo:; frame-ancestors 'none'"},
             {"x-frame-options", "DENY"},
             {"x-content-type-options", "nosniff"}},
            html.toUtf8()};
}

Reply stylesheetReply()
{
    // The pages' only styling, served as a file: their security policy
    // refuses inline styles, which published HTML could otherwise add.
    static const QByteArray css =
        "body{font:17px/1.6 Georgia,serif;max-width:42em;margin:3em auto;padding:0 1em;color:#222}"
        "pre{overflow:auto;background:#f4f4f4;padding:.8em}img{max-width:100%}"
        "code,.math{font:.9em/1.5 ui-monospace,Menlo,Consolas,monospace}"
        ".math[data-display=\"1\"]{display:block;text-align:center;margin:1em 0}"
        "table{border-collapse:collapse;margin:1em 0}th,td{border:1px solid #8886;padding:.3em .7em}"
        "body.signin{font:15px system-ui,sans-serif;max-width:26em}"
        ".signin label{display:block;margin:.6em 0}"
        ".signin input{display:block;width:100%;padding:.4em;box-sizing:border-box}"
        ".signin button{margin-top:.8em;padding:.5em 1.2em}.error{color:#b00020}"
        ".signin fieldset{border:1px solid #ccc;border-radius:8px;margin:1.2em 0;padding:1em}"
        "@media (prefers-color-scheme:dark){body{background:#1e1e1e;color:#ddd}"
        "pre{background:#2a2a2a}a{color:#8ab4f8}}\n";
    return {200,
            {{"content-type", "text/css; charset=utf-8"},
             {"x-content-type-options", "nosniff"},
             {"cache-control", "public, max-age=3600"}},
            css};
}

} // namespace tessivo::server
