// A computer that edits its store and syncs it until tst_sync_reliability
// kills it. Args: <data folder> <settings file> <service URL> <token> <seed>.
// Prints "READY" once loaded, then "S <key>" for each document version that
// is on disk with its dirty mark: its file was written and state.json was
// written after it.
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/Keychain.h"
#include "service/core/SyncEngine.h"
#include "store/DocumentStore.h"
#include "store/documentstore_report.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>

#include <cstdio>

namespace {

void emitLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// The version a document file holds, read back from disk.
QString keyOnDisk(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const auto d = Document::fromJson(QJsonDocument::fromJson(file.readAll()).object());
    return d ? DocumentStoreReport::key(*d) : QString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6)
        return 2;
    QSettings settings(args.at(2), QSettings::IniFormat);
    DocumentStore store(args.at(1), &settings);
    QFuture<void> loading = store.load();
    while (!loading.isFinished())
        app.processEvents(QEventLoop::WaitForMoreEvents);

    APIClient api{QUrl(args.at(3))};
    const Keychain::Backend keyring = Keychain::inMemory();
    Keychain(keyring).save(args.at(4), QString::fromLatin1(Keychain::sessionTokenAccount));
    AuthManager auth(AuthManager::Dependencies{&api, Keychain(keyring), &store, &settings, {}});
    SyncEngine engine(SyncEngine::Dependencies{&store, &auth, &api, nullptr, {}});
    engine.start();
    QStringList written;
    QObject::connect(&store, &DocumentStore::fileWritten, [&](const QString &path, bool ok) {
        if (!ok)
            return;
        if (path.startsWith(QLatin1String("documents/"))) {
            const QString key = keyOnDisk(QDir(args.at(1)).filePath(path));
            if (!key.isEmpty())
                written.append(key);
        } else if (path == QLatin1String("state.json")) {
            for (const QString &key : std::as_const(written))
                emitLine(QStringLiteral("S ") + key);
            written.clear();
        }
    });
    emitLine(QStringLiteral("READY"));

    QRandomGenerator rng(args.at(5).toUInt());
    int counter = 0;
    std::function<void()> step = [&] {
        const auto &documents = store.documents();
        const int roll = int(rng.bounded(100));
        if (documents.size() < 4 || roll < 20) {
            store.createDocument(std::nullopt, QStringLiteral("# Child %1\n").arg(++counter));
        } else {
            const QString id = documents.at(rng.bounded(std::min<qsizetype>(documents.size(), 8))).id;
            if (roll < 90)
                store.appendText(QStringLiteral("child %1").arg(++counter), id);
            else if (roll < 96 || store.collections().isEmpty())
                store.moveDocument(id, store.createCollection(QStringLiteral("F%1").arg(++counter))->id);
            else
                store.deleteDocument(id);
        }
        // Like an activation or "Sync Now": a pass out while typing goes on.
        if (rng.bounded(100) < 10)
            engine.sync();
        // Typing bursts and pauses around the 3-second debounce, so that
        // kills land while idle, while saving and while a pass is out.
        const int pause = rng.bounded(100) < 70 ? int(rng.bounded(150)) : 500 + int(rng.bounded(3500));
        QTimer::singleShot(pause, step);
    };
    QTimer::singleShot(0, step);
    return app.exec();
}
