#include "Persistence.h"

#include "store/CappedFileRead.h"
#include "store/StrictJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QtConcurrent>

#include <cerrno>
#include <cstring>
#include <numeric>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Persistence {

namespace {

const QString &defaultBaseDirectory()
{
    // The data folder never moves during a run, so it is looked up once.
    static const QString base = [] {
        const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        return root.isEmpty() ? QString() : QDir(root).filePath(QStringLiteral("Tessivo"));
    }();
    return base;
}

// A temporary file: its name once written, or why it failed.
struct TemporaryFile
{
    QByteArray path;
    QString error;
};

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(strerror(code));
}

// Numbers for temporary names: random per thread, then counting up, so
// that names rarely collide (O_EXCL catches the rest) without a lock.
quint64 nextTemporaryNumber()
{
    thread_local quint64 next = QRandomGenerator::global()->generate64();
    return next++;
}

// The temporaries this process is writing: a load running beside a save
// (an edit made before the store finished loading) must not take one away.
struct WritesInFlight
{
    QMutex mutex;
    QSet<QByteArray> paths;
};

WritesInFlight &writesInFlight()
{
    static WritesInFlight writes;
    return writes;
}

void forgetTemporary(const QByteArray &path)
{
    WritesInFlight &writes = writesInFlight();
    const QMutexLocker lock(&writes.mutex);
    writes.paths.remove(path);
}

// Takes the temporary away: the write failed, or its rename did.
void discardTemporary(const QByteArray &path)
{
    ::unlink(path.constData());
    forgetTemporary(path);
}

// Writes `bytes` to a new file beside `target`, "<target>" + temporaryMark
// + "<n>", with the permissions of the regular file it will replace. A
// batch leaves the sync to one sync of the file system (`syncFile` false).
TemporaryFile writeTemporary(const QByteArray &target, const QByteArray &bytes, bool syncFile)
{
    TemporaryFile file;
    struct stat existing;
    const bool replacing = ::lstat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode);
    const mode_t mode = replacing ? (existing.st_mode & 07777) : 0666;
    WritesInFlight &writes = writesInFlight();
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        file.path = target + temporaryMark + QByteArray::number(nextTemporaryNumber(), 36);
        {
            const QMutexLocker lock(&writes.mutex);
            writes.paths.insert(file.path);
        }
        // O_EXCL: a file (or a link) already there is never written through.
        fd = ::open(file.path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            const int why = errno;
            forgetTemporary(file.path);
            errno = why;
            if (why != EEXIST) {
                break;
            }
        }
    }
    if (fd < 0) {
        file.error = systemError(errno);
        file.path.clear();
        return file;
    }
    // The creation mask may have narrowed what the replaced file had.
    if (replacing && ::fchmod(fd, mode) != 0) {
        file.error = systemError(errno);
    }
    qsizetype written = 0;
    while (file.error.isEmpty() && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            file.error = n < 0 ? systemError(errno) : QStringLiteral("nothing could be written");
            break;
        }
        written += n;
    }
    if (syncFile && file.error.isEmpty() && ::fdatasync(fd) != 0) {
        file.error = systemError(errno);
    }
    if (::close(fd) != 0 && file.error.isEmpty()) {
        file.error = systemError(errno);
    }
    if (!file.error.isEmpty()) {
        discardTemporary(file.path);
        file.path.clear();
    }
    return file;
}

// Makes the names of a folder's entries durable.
bool syncFolder(const QByteArray &folder, QString *error)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        *error = systemError(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    ::close(fd);
    return true;
}

// Replaces the file at `path` with `bytes`, all or nothing: a synced
// temporary renamed over it, then its folder synced so that the new name
// survives a power loss too. A link at `path` is replaced, not followed.
bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    const QByteArray target = nativePath(path);
    const TemporaryFile file = writeTemporary(target, bytes, true);
    if (file.path.isEmpty()) {
        *error = file.error;
        return false;
    }
    if (::rename(file.path.constData(), target.constData()) != 0) {
        *error = systemError(errno);
        discardTemporary(file.path);
        return false;
    }
    forgetTemporary(file.path);
    return syncFolder(nativePath(QFileInfo(path).path()), error);
}

// Creates `base` and its documents folder, so that a fresh data folder
// always has the layout the loader expects.
bool makeFolders(const QString &base, QString *error)
{
    if (base.isEmpty()) {
        *error = QStringLiteral("no data folder is known for this user");
        return false;
    }
    const QString folder = QDir(base).filePath(QStringLiteral("documents"));
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("could not create %1").arg(folder);
        return false;
    }
    return true;
}

// Keeps what a file held before the next save replaces it with what could
// be read: a copy of `bytes` (a file that does not decode), or, for a file
// too large to read, the file itself moved aside, since copying it would
// take as much room again. The same bytes are never kept twice; nothing
// kept earlier is overwritten.
void keepAside(const QString &path, const QByteArray &bytes, bool haveBytes, qint64 limit)
{
    const QString stem = path + QLatin1String(".unreadable");
    for (int n = 0; n < 1000; ++n) {
        const QString target = n == 0 ? stem : stem + u'.' + QString::number(n);
        struct stat there;
        if (::lstat(nativePath(target).constData(), &there) == 0) {
            if (haveBytes) {
                const CappedFileRead kept = CappedFileRead::read(target, limit);
                if (kept.ok() && kept.data == bytes) {
                    return;
                }
            }
            continue;
        }
        QString error;
        bool kept = false;
        if (haveBytes) {
            kept = writeAtomically(target, bytes, &error);
        } else if (::rename(nativePath(path).constData(), nativePath(target).constData()) == 0) {
            kept = true;
        } else {
            error = systemError(errno);
        }
        if (kept) {
            qWarning(haveBytes ? "[persistence] kept a copy of %s as %s"
                               : "[persistence] moved %s aside as %s",
                     qPrintable(QFileInfo(path).fileName()), qPrintable(QFileInfo(target).fileName()));
        } else {
            qWarning("[persistence] could not keep %s aside: %s", qPrintable(QFileInfo(path).fileName()),
                     qPrintable(error));
        }
        return;
    }
}

// Reads one of the data folder's files within `limit`. What is no regular
// file (a pipe, a folder) or isn't there at all counts as no file; what
// can't be read, or is too large, is kept aside first, so that the next
// save can't destroy it. Returns whether bytes were read.
bool readDataFile(const QString &path, qint64 limit, const char *what, QByteArray *bytes)
{
    CappedFileRead read = CappedFileRead::read(path, limit);
    switch (read.status) {
    case CappedFileRead::Status::ok:
        *bytes = std::move(read.data);
        return true;
    case CappedFileRead::Status::missing:
        return false;
    case CappedFileRead::Status::notRegular:
        // Nothing of the user's to keep aside, and nothing the next save
        // may not replace: as if there were no file.
        qWarning("[persistence] ignored %s: %s", what, qPrintable(read.error));
        return false;
    case CappedFileRead::Status::tooLarge:
        qWarning("[persistence] did not read %s: %s", what, qPrintable(read.error));
        keepAside(path, {}, false, limit);
        return false;
    case CappedFileRead::Status::failed:
        qWarning("[persistence] could not read %s: %s", what, qPrintable(read.error));
        keepAside(path, {}, false, limit);
        return false;
    }
    return false;
}

struct LoadedDocument
{
    std::optional<Document> document;
    QString problem;
};

LoadedDocument loadDocumentFile(const QFileInfo &info)
{
    LoadedDocument result;
    if (info.isSymLink() && !info.exists()) {
        result.problem = QStringLiteral("the link points nowhere");
        return result;
    }
    CappedFileRead read = CappedFileRead::read(info.filePath(), FileBounds::document);
    if (!read.ok()) {
        result.problem = read.error;
        return result;
    }
    const QByteArray bytes = std::move(read.data);
    if (bytes.isEmpty()) {
        result.problem = QStringLiteral("the file is empty");
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        result.problem =
            QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
        return result;
    }
    if (!json.isObject()) {
        result.problem = QStringLiteral("not a JSON object");
        return result;
    }
    result.document = Document::fromJson(json.object(), &result.problem);
    return result;
}

} // namespace

QJsonObject State::toJson() const
{
    QJsonObject slugs;
    for (auto it = publishedSlugs.cbegin(); it != publishedSlugs.cend(); ++it) {
        slugs.insert(it.key(), it.value());
    }
    QJsonObject object;
    object.insert(QLatin1String("syncCursor"), syncCursor);
    object.insert(QLatin1String("dirtyDocumentIDs"), QJsonArray::fromStringList(dirtyDocumentIDs));
    object.insert(QLatin1String("dirtyCollectionIDs"), QJsonArray::fromStringList(dirtyCollectionIDs));
    object.insert(QLatin1String("publishedSlugs"), slugs);
    object.insert(QLatin1String("welcomeSeeded"), welcomeSeeded);
    return object;
}

std::optional<State> State::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    State s;
    s.syncCursor = r.requiredInt64(u"syncCursor");
    s.dirtyDocumentIDs = r.requiredStringList(u"dirtyDocumentIDs");
    s.dirtyCollectionIDs = r.requiredStringList(u"dirtyCollectionIDs");
    const QJsonObject slugs = r.requiredObject(u"publishedSlugs");
    for (auto it = slugs.constBegin(); it != slugs.constEnd(); ++it) {
        if (!it.value().isString()) {
            r.fail(QStringLiteral("slug of '%1' is not a string").arg(it.key()));
            break;
        }
        s.publishedSlugs.insert(it.key(), it.value().toString());
    }
    s.welcomeSeeded = r.requiredBool(u"welcomeSeeded");
    if (!r.ok()) {
        if (error) {
            *error = r.error();
        }
        return std::nullopt;
    }
    return s;
}

QString baseDirectory()
{
    return defaultBaseDirectory();
}

QString documentsDirectory(const QString &base)
{
    return base.isEmpty() ? QString() : QDir(base).filePath(QStringLiteral("documents"));
}

QString collectionsFilePath(const QString &base)
{
    return base.isEmpty() ? QString() : QDir(base).filePath(QStringLiteral("collections.json"));
}

QString stateFilePath(const QString &base)
{
    return base.isEmpty() ? QString() : QDir(base).filePath(QStringLiteral("state.json"));
}

QString documentRelativePath(const QString &id)
{
    return QLatin1String("documents/") + id + QLatin1String(".json");
}

QString documentFilePath(const QString &base, const QString &id)
{
    // Joined by hand: QDir::filePath() takes a name starting with ":" for an
    // absolute resource path and returns it alone, which would put the file
    // in the working directory.
    return base + u'/' + documentRelativePath(id);
}

bool isSafeDocumentID(QStringView id)
{
    if (id.isEmpty() || id == u"." || id == u"..") {
        return false;
    }
    return !std::any_of(id.cbegin(), id.cend(),
                        [](QChar c) { return c == u'/' || c == u'\\' || c.unicode() == 0; });
}

bool ensureDirectories(const QString &base, QString *error)
{
    const QString documents = documentsDirectory(base);
    if (documents.isEmpty()) {
        if (error) {
            *error = QStringLiteral("no data folder is known for this user");
        }
        return false;
    }
    if (!QDir().mkpath(documents)) {
        if (error) {
            *error = QStringLiteral("could not create %1").arg(documents);
        }
        return false;
    }
    return true;
}

QByteArray encode(const QJsonObject &object)
{
    // QJsonObject keeps its keys sorted, so compact output is sorted too.
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray encode(const QJsonArray &array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

bool saveDocument(const Document &document, const QString &base)
{
    QString error;
    if (!isSafeDocumentID(document.id)) {
        error = QStringLiteral("the id cannot be used as a file name");
    } else {
        if (makeFolders(base, &error) &&
            writeAtomically(documentFilePath(base, document.id), encode(document.toJson()), &error)) {
            return true;
        }
    }
    qWarning("[persistence] failed to save document %s: %s", qPrintable(document.id), qPrintable(error));
    return false;
}

QList<bool> saveDocuments(const QList<Document> &documents, const QString &base, int threads)
{
    QList<bool> saved(documents.size(), false);
    if (documents.isEmpty()) {
        return saved;
    }
    QString error;
    const QString folder = documentsDirectory(base);
    const auto failAll = [&](const QString &why) {
        for (const Document &d : documents) {
            qWarning("[persistence] failed to save document %s: %s", qPrintable(d.id), qPrintable(why));
        }
        return saved;
    };
    if (!makeFolders(base, &error)) {
        return failAll(error);
    }
    const int dir = ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return failAll(systemError(errno));
    }
    // Encoding and writing dominate and the files are independent: they run
    // on worker threads, each file unsynced.
    // A sync of the file system waits for everything written to it, by any
    // program: it pays off for a large batch only. A small one (the pull of a
    // steady sync) syncs its own files.
    const bool syncEach = documents.size() <= 32;
    QList<qsizetype> indexes(documents.size());
    std::iota(indexes.begin(), indexes.end(), 0);
    // A pool of its own: the folder's lock, not the cores, bounds how many
    // threads pay (batchWriterThreads).
    QThreadPool pool;
    pool.setMaxThreadCount(std::max(1, threads));
    const QList<TemporaryFile> files =
        QtConcurrent::blockingMapped<QList<TemporaryFile>>(&pool, indexes, [&](qsizetype i) {
            const Document &d = documents.at(i);
            if (!isSafeDocumentID(d.id)) {
                return TemporaryFile{{}, QStringLiteral("the id cannot be used as a file name")};
            }
            return writeTemporary(nativePath(documentFilePath(base, d.id)), encode(d.toJson()), syncEach);
        });
    // Every temporary file is durable before any of them takes the place of
    // a file; after the renames, one sync of the folder makes the new names
    // durable.
    const bool durable = syncEach || ::syncfs(dir) == 0;
    const QString syncError = durable ? QString() : systemError(errno);
    // The renames are independent too; each replaces one file atomically.
    const QList<QString> problems =
        QtConcurrent::blockingMapped<QList<QString>>(&pool, indexes, [&](qsizetype i) {
            const TemporaryFile &f = files.at(i);
            if (f.path.isEmpty()) {
                return f.error;
            }
            QString why = syncError;
            if (durable) {
                const QByteArray target = nativePath(documentFilePath(base, documents.at(i).id));
                if (::rename(f.path.constData(), target.constData()) == 0) {
                    forgetTemporary(f.path);
                    return QString();
                }
                why = systemError(errno);
            }
            discardTemporary(f.path);
            return why;
        });
    bool renamed = false;
    for (qsizetype i = 0; i < problems.size(); ++i) {
        if (problems.at(i).isNull()) {
            saved[i] = true;
            renamed = true;
        } else {
            qWarning("[persistence] failed to save document %s: %s", qPrintable(documents.at(i).id),
                     qPrintable(problems.at(i)));
        }
    }
    if (renamed && ::fsync(dir) != 0) {
        // The files are whole either way; only their new names may not
        // survive a power loss. Nothing is reported as saved.
        const QString why = systemError(errno);
        for (qsizetype i = 0; i < saved.size(); ++i) {
            if (saved[i]) {
                saved[i] = false;
                qWarning("[persistence] failed to save document %s: %s", qPrintable(documents.at(i).id),
                         qPrintable(why));
            }
        }
    }
    ::close(dir);
    return saved;
}

bool saveCollections(const QList<Collection> &collections, const QString &base)
{
    QString error;
    if (makeFolders(base, &error)) {
        QJsonArray array;
        for (const Collection &c : collections) {
            array.append(c.toJson());
        }
        if (writeAtomically(collectionsFilePath(base), encode(array), &error)) {
            return true;
        }
    }
    qWarning("[persistence] failed to save collections: %s", qPrintable(error));
    return false;
}

bool saveState(const State &state, const QString &base)
{
    QString error;
    if (makeFolders(base, &error) && writeAtomically(stateFilePath(base), encode(state.toJson()), &error)) {
        return true;
    }
    qWarning("[persistence] failed to save state: %s", qPrintable(error));
    return false;
}

namespace {

bool isTemporaryName(const QString &name)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        u".+"_s + QRegularExpression::escape(QLatin1String(temporaryMark)) + u"[0-9a-z]+"_s));
    return pattern.match(name).hasMatch();
}

} // namespace

void removeLeftovers(const QString &base)
{
    if (base.isEmpty()) {
        return;
    }
    WritesInFlight &writes = writesInFlight();
    int removed = 0;
    for (const QString &folder : {base, documentsDirectory(base)}) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (!isTemporaryName(name)) {
                continue;
            }
            const QByteArray path = nativePath(folder + u'/' + name);
            const QMutexLocker lock(&writes.mutex);
            struct stat info;
            if (writes.paths.contains(path) || ::lstat(path.constData(), &info) != 0 ||
                !S_ISREG(info.st_mode)) {
                continue;
            }
            if (::unlink(path.constData()) == 0) {
                ++removed;
            }
        }
    }
    if (removed > 0) {
        qWarning("[persistence] removed %d temporary files left by an interrupted save", removed);
    }
}

QList<Document> loadDocuments(const QString &base)
{
    if (base.isEmpty()) {
        return {};
    }
    const QDir dir(documentsDirectory(base));
    QFileInfoList entries;
    for (const QFileInfo &info : dir.entryInfoList(
             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString name = info.fileName();
        if (name.size() > 5 && name.endsWith(QLatin1String(".json"))) {
            entries.append(info);
        }
    }
    // Reading and decoding dominate; files are independent, so they are
    // read in parallel and put back in listing order.
    const QList<LoadedDocument> loaded =
        QtConcurrent::blockingMapped<QList<LoadedDocument>>(entries, loadDocumentFile);

    // Saves go to "<id>.json", so a file named otherwise is a copy (by hand,
    // or a sync tool's conflicted copy). Letting it load beside the file
    // named after its id would show one record twice, or let the first edit
    // overwrite the other file's text.
    const auto namedAfter = [&entries](qsizetype i, const QString &id) {
        return entries.at(i).fileName().chopped(5) == id;
    };
    QHash<QString, qsizetype> winner;
    for (qsizetype i = 0; i < loaded.size(); ++i) {
        const std::optional<Document> &d = loaded.at(i).document;
        if (!d || !isSafeDocumentID(d->id)) {
            continue;
        }
        const auto it = winner.constFind(d->id);
        if (it == winner.cend() || (namedAfter(i, d->id) && !namedAfter(*it, d->id))) {
            winner.insert(d->id, i);
        }
    }

    QList<Document> documents;
    documents.reserve(loaded.size());
    for (qsizetype i = 0; i < loaded.size(); ++i) {
        const QString file = entries.at(i).fileName();
        const std::optional<Document> &d = loaded.at(i).document;
        if (!d) {
            qWarning("[persistence] skipped document file %s: %s", qPrintable(file),
                     qPrintable(loaded.at(i).problem));
        } else if (!isSafeDocumentID(d->id)) {
            qWarning("[persistence] skipped document file %s: its id cannot be used as a file name",
                     qPrintable(file));
        } else if (winner.value(d->id) != i) {
            qWarning("[persistence] skipped document file %s: %s holds the same id %s", qPrintable(file),
                     qPrintable(entries.at(winner.value(d->id)).fileName()), qPrintable(d->id));
        } else {
            documents.append(*d);
        }
    }
    return documents;
}

QList<Collection> loadCollections(const QString &base)
{
    const QString path = collectionsFilePath(base);
    QByteArray bytes;
    if (!readDataFile(path, FileBounds::collections, "collections", &bytes)) {
        return {};
    }
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !json.isArray()) {
        qWarning("[persistence] collections do not decode: %s",
                 qPrintable(parseError.error != QJsonParseError::NoError
                                ? parseError.errorString()
                                : QStringLiteral("not a JSON array")));
        keepAside(path, bytes, true, FileBounds::collections);
        return {};
    }
    QList<Collection> collections;
    bool skippedAny = false;
    const QJsonArray array = json.array();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue value = array.at(i);
        std::optional<Collection> c;
        QString problem = QStringLiteral("not a JSON object");
        if (value.isObject()) {
            c = Collection::fromJson(value.toObject(), &problem);
        }
        if (c) {
            collections.append(std::move(*c));
        } else {
            skippedAny = true;
            qWarning("[persistence] skipped collection %lld: %s", static_cast<long long>(i),
                     qPrintable(problem));
        }
    }
    if (skippedAny) {
        // The next save writes only what loaded; keep the original.
        keepAside(path, bytes, true, FileBounds::collections);
    }
    return collections;
}

State loadState(const QString &base, bool *read)
{
    if (read) {
        *read = false;
    }
    const QString path = stateFilePath(base);
    QByteArray bytes;
    if (!readDataFile(path, FileBounds::state, "state", &bytes)) {
        return {};
    }
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(bytes, &parseError);
    QString error;
    std::optional<State> state;
    if (parseError.error != QJsonParseError::NoError) {
        error = parseError.errorString();
    } else if (!json.isObject()) {
        error = QStringLiteral("not a JSON object");
    } else {
        state = State::fromJson(json.object(), &error);
    }
    if (!state) {
        qWarning("[persistence] state does not decode: %s", qPrintable(error));
        keepAside(path, bytes, true, FileBounds::state);
        return {};
    }
    if (read) {
        *read = true;
    }
    return *state;
}

} // namespace Persistence
