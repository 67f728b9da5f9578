// The files on disk: whatever a document file, collections.json and
// state.json hold, loading never changes them, and a document that loads is
// saved and loaded back unchanged.
#include "FuzzInput.h"
#include "store/Persistence.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

QTemporaryDir *base = nullptr;

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    FuzzInput::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the scratch file opens");
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzInput::silenceQtMessages();
    base = new QTemporaryDir;
    Persistence::setBaseDirectoryOverride(base->path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Three files, split at 0xFF bytes (which UTF-8 never holds).
    QList<QByteArray> files = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\xFF');
    files.resize(3);
    QDir(base->path()).removeRecursively();
    FuzzInput::require(Persistence::ensureDirectories(), "the scratch folders exist");
    const QString documentPath = Persistence::documentsDirectory() + QStringLiteral("/fuzz.json");
    writeFile(documentPath, files[0]);
    writeFile(Persistence::collectionsFilePath(), files[1]);
    writeFile(Persistence::stateFilePath(), files[2]);

    const QList<Document> documents = Persistence::loadDocuments();
    Persistence::loadCollections();
    Persistence::loadState();
    FuzzInput::require(readFile(documentPath) == files[0], "loading leaves a document file as it was");
    FuzzInput::require(readFile(Persistence::collectionsFilePath()) == files[1],
                       "loading leaves collections.json as it was");
    FuzzInput::require(readFile(Persistence::stateFilePath()) == files[2],
                       "loading leaves state.json as it was");

    for (const Document &document : documents) {
        if (!Persistence::isSafeDocumentID(document.id) || !Persistence::saveDocument(document)) {
            continue;
        }
        bool found = false;
        for (const Document &loaded : Persistence::loadDocuments()) {
            found = found || (loaded.id == document.id && loaded == document);
        }
        FuzzInput::require(found, "a saved document loads back unchanged");
    }
    return 0;
}
