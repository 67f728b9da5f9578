// Edits a store in bursts with pauses and prints every change it made, for
// the crash test that kills it at random moments.
//
//   documentstore_crashchild <base folder> <settings file> <seed>
//
// Output, one line each, flushed at once:
//   d|c <key>      a document or collection as loaded
//   READY          loading finished
//   D|C <key>      a document or collection after a change
//   PAUSE <ms>     about to sit idle for that long
//   FLUSHING       about to flush every pending save
//   FLUSHED        the flush returned
#include "documentstore_report.h"
#include "store/DocumentStore.h"

#include <QCoreApplication>
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

class Editor
{
public:
    Editor(DocumentStore &store, quint32 seed) : m_store(store), m_rng(seed) {}

    void step()
    {
        const int roll = int(m_rng.bounded(100));
        if (roll < 12) {
            // Many documents pending at once, then the termination flush.
            const int edits = 5 + int(m_rng.bounded(25));
            for (int i = 0; i < edits; ++i) {
                edit();
            }
            emitLine(QStringLiteral("FLUSHING"));
            m_store.flushPendingSaves();
            emitLine(QStringLiteral("FLUSHED"));
        } else {
            const int ops = 1 + int(m_rng.bounded(6));
            for (int i = 0; i < ops; ++i) {
                operation();
            }
        }
        const int pauseRoll = int(m_rng.bounded(100));
        const int pause = pauseRoll < 35 ? 10 : pauseRoll < 65 ? 60 : 900;
        emitLine(QStringLiteral("PAUSE %1").arg(pause));
        QTimer::singleShot(pause, [this] { step(); });
    }

private:
    QString randomBody()
    {
        static const QStringList words = {QStringLiteral("alpha"), QStringLiteral("river"),
                                          QStringLiteral("stone"), QStringLiteral("cloud"),
                                          QStringLiteral("ember"), QStringLiteral("north"),
                                          QStringLiteral("quiet"), QStringLiteral("lumen")};
        const int roll = int(m_rng.bounded(100));
        const int count = roll < 3 ? 60000 : roll < 30 ? 2000 : 40;
        QString body = QStringLiteral("# Note %1\n\n").arg(++m_counter);
        body.reserve(count * 7);
        for (int i = 0; i < count; ++i) {
            body += words.at(int(m_rng.bounded(qsizetype(words.size()))));
            body += (i % 12 == 11) ? u'\n' : u' ';
        }
        return body;
    }

    std::optional<QString> randomCollection()
    {
        const auto &collections = m_store.collections();
        if (collections.isEmpty() || m_rng.bounded(3) == 0) {
            return std::nullopt;
        }
        return collections.at(int(m_rng.bounded(qsizetype(collections.size())))).id;
    }

    QString randomDocumentID()
    {
        const auto &documents = m_store.documents();
        if (documents.isEmpty()) {
            return QString();
        }
        // Mostly the first few, like a writer who keeps to recent work.
        const qsizetype span = std::min<qsizetype>(documents.size(), m_rng.bounded(4) == 0 ? 1000 : 5);
        return documents.at(m_rng.bounded(span)).id;
    }

    void reportDocument(const QString &id)
    {
        if (const auto d = m_store.document(id)) {
            emitLine(QStringLiteral("D ") + DocumentStoreReport::key(*d));
            return;
        }
        for (const Document &t : m_store.tombstones()) {
            if (t.id == id) {
                emitLine(QStringLiteral("D ") + DocumentStoreReport::key(t));
            }
        }
    }

    void reportCollection(const QString &id)
    {
        for (const QList<Collection> *list : {&m_store.collections(), &m_store.deletedCollections()}) {
            for (const Collection &c : *list) {
                if (c.id == id) {
                    emitLine(QStringLiteral("C ") + DocumentStoreReport::key(c));
                    return;
                }
            }
        }
    }

    void edit()
    {
        const QString id = randomDocumentID();
        if (id.isEmpty()) {
            return;
        }
        m_store.updateBody(randomBody(), id);
        reportDocument(id);
    }

    void operation()
    {
        const int roll = int(m_rng.bounded(100));
        if (roll < 55 || m_store.documents().size() < 3) {
            if (m_store.documents().size() < 3 || roll < 8) {
                const Document d = m_store.createDocument(randomCollection(), randomBody());
                reportDocument(d.id);
            } else {
                edit();
            }
        } else if (roll < 68) {
            const QString id = randomDocumentID();
            const auto target = randomCollection();
            const auto before = m_store.document(id);
            m_store.moveDocument(id, target);
            if (before && before->collectionId != target) {
                reportDocument(id);
            }
        } else if (roll < 74) {
            const QString id = randomDocumentID();
            m_store.deleteDocument(id);
            reportDocument(id);
        } else if (roll < 84) {
            const auto parent = randomCollection();
            if (const auto c =
                    m_store.createCollection(QStringLiteral("Folder %1").arg(++m_counter), parent)) {
                reportCollection(c->id);
            }
        } else if (roll < 92) {
            if (const auto id = randomCollection()) {
                m_store.renameCollection(*id, QStringLiteral("Renamed %1").arg(++m_counter));
                reportCollection(*id);
            }
        } else if (roll < 97) {
            const auto id = randomCollection();
            if (id && m_store.moveCollection(*id, randomCollection())) {
                // A move re-sorts: report it, its position may have changed.
                reportCollection(*id);
            }
        } else if (m_store.collections().size() > 4) {
            if (const auto id = randomCollection()) {
                m_store.deleteCollection(*id);
                reportCollection(*id);
            }
        }
    }

    DocumentStore &m_store;
    QRandomGenerator m_rng;
    int m_counter = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: documentstore_crashchild <base folder> <settings file> <seed>\n");
        return 2;
    }
    QSettings settings(args.at(2), QSettings::IniFormat);
    DocumentStore store(args.at(1), &settings);
    QFuture<void> loading = store.load();
    while (!loading.isFinished()) {
        app.processEvents(QEventLoop::WaitForMoreEvents);
    }
    for (const QList<Document> *list : {&store.documents(), &store.tombstones()}) {
        for (const Document &d : *list) {
            emitLine(QStringLiteral("d ") + DocumentStoreReport::key(d));
        }
    }
    for (const QList<Collection> *list : {&store.collections(), &store.deletedCollections()}) {
        for (const Collection &c : *list) {
            emitLine(QStringLiteral("c ") + DocumentStoreReport::key(c));
        }
    }
    emitLine(QStringLiteral("READY"));

    Editor editor(store, args.at(3).toUInt());
    QTimer::singleShot(0, [&] { editor.step(); });
    return app.exec();
}
