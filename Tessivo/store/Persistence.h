#pragma once

#include "store/Collection.h"
#include "store/Document.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// Where and how the user's documents live on disk:
//
//   <base>/documents/<id>.json   one Document per file (tombstones too)
//   <base>/collections.json      an array of Collection records
//   <base>/state.json            one Persistence::State
//
// <base> is the folder a caller names; the app's is baseDirectory().
// Files are compact JSON with sorted keys, each replaced atomically through
// a temporary file beside it whose name carries temporaryMark. Nothing here
// deletes a file but removeLeftovers(), which removes only such temporaries.
// Failures are logged with the "[persistence] " prefix and never reported to
// the caller.
//
// Every function is synchronous, may be called from any thread, and keeps no
// state. Every read goes through CappedFileRead: none waits on what it
// finds (a pipe where a file belongs is skipped without waiting for a
// writer), and none takes more than its kind's bound (FileBounds).
namespace Persistence {

// The store's bookkeeping, kept next to the documents.
struct State
{
    qint64 syncCursor = 0;
    QStringList dirtyDocumentIDs;
    QStringList dirtyCollectionIDs;
    // Document id to published slug.
    QMap<QString, QString> publishedSlugs;
    bool welcomeSeeded = false;

    // All five keys, always.
    QJsonObject toJson() const;
    // All five keys are required and strictly typed; anything else fails.
    static std::optional<State> fromJson(const QJsonObject &object, QString *error = nullptr);

    friend bool operator==(const State &, const State &) = default;
};

// The user's data folder: the XDG data folder plus "Tessivo"
// (~/.local/share/Tessivo), worked out on first use and kept for the run.
QString baseDirectory();

// The layout under `base`; empty for an empty `base`.
QString documentsDirectory(const QString &base);
QString collectionsFilePath(const QString &base);
QString stateFilePath(const QString &base);
// "documents/<id>.json", the document's file relative to the base folder.
QString documentRelativePath(const QString &id);
// The document's file under `base`.
QString documentFilePath(const QString &base, const QString &id);

// What every temporary file written here carries between the name of the
// file it will replace and a number: "<file>.~tessivo-partial-save~<n>".
// Nobody names a file like that, so a file with the mark is one of ours.
inline constexpr char temporaryMark[] = ".~tessivo-partial-save~";

// Whether `id` may be used as a file name: not empty, not "." or "..", and
// without "/", "\" or NUL. Ids come from outside (sync, hand-edited files),
// so a document with any other id is never written.
bool isSafeDocumentID(QStringView id);

// Creates <base>/documents (and <base>) when missing. False with `error` set
// when that fails.
bool ensureDirectories(const QString &base, QString *error = nullptr);

// The shared encoding: compact, one line, keys sorted.
QByteArray encode(const QJsonObject &object);
QByteArray encode(const QJsonArray &array);

// Each writes its file atomically under `base` (a store keeps the folder it
// was made for) and returns whether it did; a failure logs
// "[persistence] failed to save document <id>: <reason>" (collections, state
// alike) and leaves the previous file intact.
bool saveDocument(const Document &document, const QString &base);
// Many documents at once, each atomically, for a pull that brings thousands:
// the files are written on worker threads, made durable by one sync of the
// file system (a batch of a few syncs each file instead), then put in place,
// then the folder is synced. Blocks until
// all of that is done. Whether each was saved, in the order given; a failure
// logs as saveDocument() does and leaves that previous file intact. The ids
// must be distinct. The files are written and renamed by `threads` threads:
// creating and renaming files in one folder take the folder's lock, so past
// two threads a batch only spends more CPU waiting on it, for no gain in
// wall time (bench_store_files, BM_FirstSyncWrite, compares counts).
inline constexpr int batchWriterThreads = 2;
QList<bool> saveDocuments(const QList<Document> &documents, const QString &base,
                          int threads = batchWriterThreads);
bool saveCollections(const QList<Collection> &collections, const QString &base);
bool saveState(const State &state, const QString &base);

// Removes what saves cut short (a kill, a power loss) left in `base` and its
// documents folder: every regular file whose name is a temporary's
// ("<file>" + temporaryMark + "<n>"), however old, except those this
// process is writing right now. Only one instance writes a data folder at a
// time, so any other such file belongs to no running save. No other file
// is ever removed, and a link is never followed.
void removeLeftovers(const QString &base);

// Every readable "<name>.json" in <base>/documents/, in file-name order.
// Anything that cannot be read or decoded, or whose id cannot be a file
// name, is skipped with a log line and left on disk untouched. One record
// per id: when several files hold an id, "<id>.json" wins and the others
// are skipped (so never written over); without such a file the first in
// file-name order wins. Reads run in parallel; the order stays deterministic.
QList<Document> loadDocuments(const QString &base);

// collections.json record by record: a record that does not decode is
// skipped (and logged), the others load. A missing file, or one that is not
// a regular file (a pipe, a folder), gives an empty list;
// a file that is not a JSON array at all gives an empty list and is first
// copied aside to "collections.json.unreadable" so that the next save
// cannot destroy it. A file that can't be read or is larger than
// FileBounds::collections gives an empty list too, and is moved aside to
// that name rather than copied.
QList<Collection> loadCollections(const QString &base);

// state.json; a missing file, one that is not a regular file or one that
// does not decode gives the default State. A file that does not decode is
// first copied aside to "state.json.unreadable"; one that can't be read or
// is larger than FileBounds::state is moved aside to that name. `read`, when
// given, tells whether the State came from the file: false means the
// bookkeeping it held is gone.
State loadState(const QString &base, bool *read = nullptr);

} // namespace Persistence
