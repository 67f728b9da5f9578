// Edits a store in bursts with pauses and prints every change it made, for
// the crash test that kills it at random moments.
//
//   documentstore_crashchild <base folder> <settings file> <seed>
//
// Output, one line each, flushed at once:
//   d|c <key>      a document or collection as loaded
//   READY          loading finished
//   D|C <key>      a document or collection after a change
//   SETTLED        the store's clock has passed every save delay since
//                  the last change and the writes it started have finished:
//                  every change above is on disk
//   FLUSHING       about to flush every pending save
//   FLUSHED        the flush returned
//
// The store's saves run on a clock the child moves itself, in 10 ms steps
// with the events in between, so whether a save was due never depends on
// how fast the machine is; the kills still land in real time, while it
// types, saves and sits idle.
#include "ManualSaveClock.h"
#include "documentstore_report.h"
#include "store/DocumentStore.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void emitLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// Prints the record with `id` from any of `lists`, or every record without an id.
template <typename Record>
void report(const QString &tag, const std::optional<QString> &id,
            std::initializer_list<const QList<Record> *> lists)
{
    for (const QList<Record> *list : lists) {
        for (const Record &r : *list) {
            if (!id || r.id == *id) {
                emitLine(tag + u' ' + DocumentStoreReport::key(r));
            }
        }
    }
}

class Editor
{
public:
    Editor(DocumentStore &store, ManualSaveClock &clock, quint32 seed)
        : m_store(store), m_clock(clock), m_rng(seed)
    {}

    void step()
    {
        if (m_rng.bounded(100) < 12) {
            // Many documents pending at once, then the termination flush.
            for (int i = 5 + int(m_rng.bounded(25)); i > 0; --i) {
                edit();
            }
            emitLine(u"FLUSHING"_s);
            m_store.flushPendingSaves();
            emitLine(u"FLUSHED"_s);
        } else {
            for (int i = 1 + int(m_rng.bounded(6)); i > 0; --i) {
                operation();
            }
        }
        const int pauseRoll = int(m_rng.bounded(100));
        if (pauseRoll < 65) {
            // A short pause between keys: the saves it makes due run
            // while the next edits come.
            const int pause = pauseRoll < 35 ? 10 : 60;
            QTimer::singleShot(pause, [this, pause] {
                pass(pause, false);
                step();
            });
            return;
        }
        // A long pause, longer than any save delay: each write finishes
        // before the clock moves on.
        pass(900, true);
        emitLine(u"SETTLED"_s);
        QTimer::singleShot(100, [this] { step(); });
    }

private:
    void pass(int ms, bool waitForEachWrite)
    {
        for (int passed = 0; passed < ms; passed += 10) {
            m_clock.advance(10);
            if (waitForEachWrite) {
                m_store.waitForWrites();
            }
            QCoreApplication::processEvents();
        }
    }

    QString randomBody()
    {
        static const QStringList words = u"alpha river stone cloud ember north quiet lumen"_s.split(u' ');
        const int roll = int(m_rng.bounded(100));
        const int count = roll < 3 ? 60000 : roll < 30 ? 2000 : 40;
        QString body = u"# Note %1\n\n"_s.arg(++m_counter);
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
        // Mostly the first few, like a writer who keeps to recent work.
        const qsizetype span = std::min<qsizetype>(documents.size(), m_rng.bounded(4) == 0 ? 1000 : 5);
        return span ? documents.at(m_rng.bounded(span)).id : QString();
    }

    void reportDocument(const QString &id)
    {
        report(u"D"_s, id, {&m_store.documents(), &m_store.tombstones()});
    }
    void reportCollection(const QString &id)
    {
        report(u"C"_s, id, {&m_store.collections(), &m_store.deletedCollections()});
    }

    void edit()
    {
        if (const QString id = randomDocumentID(); !id.isEmpty()) {
            m_store.updateBody(randomBody(), id);
            reportDocument(id);
        }
    }

    void operation()
    {
        const int roll = int(m_rng.bounded(100));
        if (m_store.documents().size() < 3 || roll < 8) {
            reportDocument(m_store.createDocument(randomCollection(), randomBody()).id);
        } else if (roll < 55) {
            edit();
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
            if (const auto c =
                    m_store.createCollection(u"Folder %1"_s.arg(++m_counter), randomCollection())) {
                reportCollection(c->id);
            }
        } else if (roll < 92) {
            if (const auto id = randomCollection()) {
                m_store.renameCollection(*id, u"Renamed %1"_s.arg(++m_counter));
                reportCollection(*id);
            }
        } else if (roll < 97) {
            // A move re-sorts: report it, its position may have changed.
            if (const auto id = randomCollection(); id && m_store.moveCollection(*id, randomCollection())) {
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
    ManualSaveClock &m_clock;
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
    ManualSaveClock clock;
    DocumentStore store(args.at(1), &settings, &clock);
    QFuture<void> loading = store.load();
    while (!loading.isFinished()) {
        app.processEvents(QEventLoop::WaitForMoreEvents);
    }
    report(u"d"_s, std::nullopt, {&store.documents(), &store.tombstones()});
    report(u"c"_s, std::nullopt, {&store.collections(), &store.deletedCollections()});
    emitLine(u"READY"_s);

    Editor editor(store, clock, args.at(3).toUInt());
    QTimer::singleShot(0, [&] { editor.step(); });
    return app.exec();
}
