#include "service/core/APIError.h"

#include "protocol/WireRecords.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

using namespace Qt::StringLiterals;

namespace {

APIError fallback(int status)
{
    switch (status) {
    case 401: {
        const ErrorBody unauthorized = ErrorBody::unauthorized();
        return {unauthorized.code, unauthorized.message, status};
    }
    case 404:
        return {u"error"_s, u"Not found."_s, status};
    case 413:
        return {u"error"_s, u"Too large."_s, status};
    default:
        return {u"error"_s, u"Request failed (%1)."_s.arg(status), status};
    }
}

} // namespace

APIError APIError::from(const QByteArray &data, int status)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    // A bare value ("null", a string, a number) does not parse as a document,
    // and an array is no error object: both fall back on the status.
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return fallback(status);

    const std::optional<ErrorBody> body = ErrorBody::fromJson(document.object());
    if (!body)
        return fallback(status);
    // An error object's code is taken as it comes, an empty one included; a
    // bare message carries none, so the status gives the one that matters.
    if (!document.object().value(u"error").isObject())
        return {status == 401 ? u"unauthorized"_s : u"error"_s, body->message, status};
    return {body->code, body->message, status};
}

APIError APIError::network(const QString &host)
{
    return {u"network"_s, u"Couldn't reach %1. Check your connection."_s.arg(host), 0};
}

APIError APIError::unexpectedResponse()
{
    return {u"network"_s, u"Unexpected response."_s, 0};
}
