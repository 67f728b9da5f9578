#pragma once

#include "assistant/core/AIByteSource.h"

#include <QPointer>

class APIStream;

// A reply body read through the API client's stream. Before the reply head
// the client's errors pass as they are (a service that cannot be reached, a
// time-out, an error status); once the body has begun, a transfer that
// breaks off is a broken stream, whatever the client calls it.
class APIStreamByteSource final : public AIByteSource
{
    Q_OBJECT

public:
    // Takes ownership of `stream`.
    explicit APIStreamByteSource(APIStream *stream, QObject *parent = nullptr);

    void abort() override;

private:
    QPointer<APIStream> m_stream;
    bool m_started = false;
};
