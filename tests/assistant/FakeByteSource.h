#pragma once

#include "assistant/core/AIByteSource.h"

// A reply body the test hands over piece by piece.
class FakeByteSource final : public AIByteSource
{
public:
    void abort() override { ++*abortCount; }
    int aborts = 0;
    int *abortCount = &aborts; // may point at a count that outlives the source

    void start() { Q_EMIT started(); }
    void send(const QByteArray &bytes) { Q_EMIT received(bytes); }
    void end() { Q_EMIT finished(); }
    void fail(const APIError &error) { Q_EMIT failed(error); }
    void breakOff() { Q_EMIT broken(); }
};
