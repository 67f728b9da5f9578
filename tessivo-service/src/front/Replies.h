#pragma once

#include "ServiceTypes.h"

#include "protocol/Routes.h"

#include <QJsonObject>
#include <QLatin1StringView>

namespace tessivo::server {

struct Reply
{
    int status = 200;
    HeaderList headers;
    QByteArray body;
};

Reply jsonReply(int status, const QJsonObject &object);
Reply errorReply(int status, const QByteArray &code, const QString &message);
// The 401 of a request that needs a session and has none.
Reply unauthorizedReply();
// The browser's way back to the app from the sign-in pages, with one item.
Reply redirectToApp(QLatin1StringView item, const QString &value);
// Whether the request is for the route `endpoint`.
bool isFor(const LoggedRequest &request, protocol::Endpoint endpoint);
Reply htmlReply(int status, const QString &html);
// An upload or push that would take the account past its quota.
Reply quotaExceededReply();
// A write the database couldn't make for lack of disk space.
Reply unavailableReply();
// The stylesheet of the service's pages.
Reply stylesheetReply();

} // namespace tessivo::server
