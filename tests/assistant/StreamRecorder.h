#pragma once

#include "assistant/core/AIStream.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <optional>

// What a reply stream delivered: its chunks, then how it ended.
struct StreamRecorder
{
    QStringList chunks;
    std::optional<APIError> error;
    bool finished = false;
    bool offMainThread = false;

    bool over() const { return finished || error; }
    QString text() const { return chunks.join(QString()); }

    AIStream *watch(AIStream *stream)
    {
        QObject::connect(stream, &AIStream::chunk, stream, [this](const QString &text) {
            chunks << text;
            offMainThread |= QThread::currentThread() != qApp->thread();
        });
        QObject::connect(stream, &AIStream::finished, stream, [this] { finished = true; });
        QObject::connect(stream, &AIStream::failed, stream, [this](const APIError &e) { error = e; });
        return stream;
    }
};
