#pragma once

#include "service/core/APIError.h"

#include <QByteArray>
#include <QObject>

// The body of one streamed reply as it arrives, on the thread that owns the
// source. A source starts its transfer when it is made and reports, in
// order: started() once the reply head is in, received() for each batch of
// body bytes, then exactly one of finished(), failed() or broken().
class AIByteSource : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Stops the transfer at once; nothing is reported after it.
    virtual void abort() = 0;

Q_SIGNALS:
    void started();
    void received(const QByteArray &bytes);
    void finished();
    // The client's own error: a reply status outside 200 to 299, a service
    // that cannot be reached (also a time-out), an unexpected response.
    void failed(const APIError &error);
    // Any other failure of the transfer, such as a connection dropped
    // in the middle of the body.
    void broken();
};
