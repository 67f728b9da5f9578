#pragma once

#include "HttpConnection.h"
#include "protocol/Rules.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QPointer>

namespace tessivo::server {

// Sends an "/api/ai" request upstream and passes the text of the reply on
// to the client as it streams, up to the size of reply the app accepts.
class AiForwarder
{
public:
    // The most reply text passed on; the rest of the upstream reply is dropped.
    static constexpr qsizetype maxTextBytes = protocol::ai::maxReplyBytes;

    explicit AiForwarder(const ServerOptions &options);

    void forward(QPointer<HttpConnection> connection, const QJsonObject &payload, HeaderList headers);

private:
    const ServerOptions &options;
    QNetworkAccessManager network;
};

} // namespace tessivo::server
