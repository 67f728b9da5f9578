#pragma once

#include "store/Document.h"
#include "store/TextRange.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>
#include <QWaitCondition>

#include <chrono>
#include <functional>
#include <optional>

class DocumentStore;
class QObject;

// The last line of defence for edits when the app is told to end (SIGTERM at
// logout) while its main thread is busy, say laying out a huge line for a
// minute: the store's own flush runs on the main thread and would come too
// late. This keeps the text of every document edited this run (the store's
// current value, handed over on the main thread), and the signal watcher's
// thread writes it itself when the main thread has not answered the signal
// within a grace period.
//
// Typing is followed by its edits: the text taken once is kept with the
// edits made since, so that no copy of the store's body is held between
// keys (the store's next in-place edit would copy all of it).
//
// Writes never interleave with the store's final flush: both run under one
// lock, and the final flush, which writes the newest values, comes last.
// The flush may run the event loop (it waits for the keyring), and a flush
// asked for meanwhile on the same thread (the desktop session's save
// request) runs at once inside it. Thread-safe.
class TerminationSaves final
{
public:
    // `waitForStoreWrites` blocks until the store's background writes are
    // done (so none of their older copies lands after ours); it is called on
    // the watcher thread and must be safe there.
    TerminationSaves(QString baseDirectory, std::function<void()> waitForStoreWrites);

    // --- Main thread ---------------------------------------------------------
    // Follows `store` from now on: every document changed after
    // `launchedAt` (milliseconds since 1970) is kept as the store has it.
    void follow(DocumentStore *store, QObject *context, qint64 launchedAt);
    // The store's current value of an edited document.
    void remember(const Document &document);
    // The store's current value of a document that `edits` (in order) made
    // of the value held here.
    void rememberEdits(const Document &document, const QList<TextEdit> &edits);
    // The document is gone from the store (deleted): never written from here.
    void forget(const QString &id);
    QStringList rememberedIDs() const;
    // The main thread has taken the termination signal; no emergency write
    // starts after this.
    void acknowledge();
    // Runs the store's final flush, after any emergency write in progress;
    // at once when called from within a flush of this thread.
    void runFlush(const std::function<void()> &flush);

    // --- Any thread ----------------------------------------------------------
    // Waits up to `grace` for acknowledge(); if it does not come, writes every
    // remembered document. Returns the number written.
    int guard(std::chrono::milliseconds grace);

private:
    struct Held
    {
        // The newest fields; the body is the text taken last.
        Document document;
        // Make the newest text of document.body, in order.
        QList<TextEdit> edits;
        // The length of the newest text, and its version when edits made it.
        qsizetype length = 0;
        std::optional<qint64> editedVersion;

        Document current() const;
    };
    // With m_stateLock held: takes the fields of `document` but keeps the text.
    static void takeFields(Held &held, const Document &document);

    const QString m_base;
    const std::function<void()> m_waitForStoreWrites;
    mutable QMutex m_stateLock;
    QWaitCondition m_acknowledged;
    bool m_acknowledgedFlag = false;
    QHash<QString, Held> m_documents;
    // Held by an emergency write and by the store's final flush; a flush
    // started within a flush takes it again.
    QRecursiveMutex m_writeLock;
};
