// The detail pane's logic without a window: when the preview renders, which
// result it keeps, the view-mode setting, the status texts and the export
// files.

#include "shell/core/DetailExport.h"
#include "shell/core/DetailRenderScheduler.h"
#include "shell/core/DetailStatus.h"
#include "shell/core/DetailViewMode.h"

#include <QFile>
#include <QMutex>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <map>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A renderer whose calls are counted and which, for bodies given a gate,
// waits until the test opens it.
struct FakeRenderer
{
    std::atomic<int> calls = 0;
    QMutex mutex;
    std::map<QString, std::shared_ptr<QSemaphore>> gates;

    // A failed test must not leave a render waiting forever.
    ~FakeRenderer()
    {
        for (auto &entry : gates)
            entry.second->release(100);
    }

    std::shared_ptr<QSemaphore> gate(const QString &body)
    {
        QMutexLocker lock(&mutex);
        auto &g = gates[body];
        if (!g)
            g = std::make_shared<QSemaphore>(0);
        return g;
    }

    DetailRenderScheduler::RenderFunction function()
    {
        return [this](const QString &body, const QHash<QString, QString> &titles) {
            ++calls;
            QMutexLocker lock(&mutex);
            const auto it = gates.find(body);
            const std::shared_ptr<QSemaphore> g = it == gates.end() ? nullptr : it->second;
            lock.unlock();
            if (g)
                g->acquire();
            return DetailRenderScheduler::Output{u"<p>"_s + body + u"|"_s + QString::number(titles.size()) +
                                                     u"</p>"_s,
                                                 {body.size(), body.size()}};
        };
    }
};

// The shown documents as the store keeps them: each text with a version
// that changes whenever the text does. Asks `scheduler` for the document
// `id` holding `body`, as the detail pane does on each store change.
class Documents
{
public:
    explicit Documents(DetailRenderScheduler &scheduler) : m_scheduler(scheduler) {}

    void request(const QString &id, const QString &body, const QHash<QString, QString> &titles = {})
    {
        Entry &entry = m_entries[id];
        if (entry.body != body || entry.version == 0) {
            entry.body = body;
            ++entry.version;
        }
        m_scheduler.request(
            id, entry.version, [body]() -> std::optional<QString> { return body; }, titles);
    }

private:
    struct Entry
    {
        QString body;
        qint64 version = 0;
    };
    DetailRenderScheduler &m_scheduler;
    std::map<QString, Entry> m_entries;
};

} // namespace

class TestDetailCore final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void rendersAtOnceOnASwitchAndAfterAPauseInTyping();
    void newerChangeDropsAnOlderRender();
    void cancelKeepsThePreviousResult();

    void viewMode_data();
    void viewMode();
    void viewModeFollowsOutsideWrites();

    void readingTime_data();
    void readingTime();

    void exportText();
    void atomicWrite_data();
    void atomicWrite();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestDetailCore::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(u"TessivoTests"_s);
    QCoreApplication::setApplicationName(u"tst_detailcore"_s);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestDetailCore::rendersAtOnceOnASwitchAndAfterAPauseInTyping()
{
    FakeRenderer fake;
    DetailRenderScheduler scheduler;
    Documents documents(scheduler);
    scheduler.setRenderFunction(fake.function());
    QSignalSpy rendered(&scheduler, &DetailRenderScheduler::rendered);

    // The first document and every switch render without waiting.
    documents.request(u"a"_s, u"hello"_s);
    QVERIFY(!scheduler.isWaitingForPause());
    QVERIFY(rendered.wait(TestWaits::limitMs));
    QCOMPARE(scheduler.html(), u"<p>hello|0</p>"_s);
    QCOMPARE(scheduler.renderedDocumentID(), u"a"_s);
    QCOMPARE(scheduler.stats().words, 5);
    documents.request(u"b"_s, u"two"_s);
    QVERIFY(!scheduler.isWaitingForPause());
    QVERIFY(rendered.wait(TestWaits::limitMs));
    QCOMPARE(scheduler.renderedDocumentID(), u"b"_s);

    // Keystrokes in the shown document wait for the pause: one render, of the last.
    documents.request(u"b"_s, u"tw"_s);
    documents.request(u"b"_s, u"two!"_s);
    QVERIFY(scheduler.isWaitingForPause());
    QCOMPARE(fake.calls.load(), 2);
    QCOMPARE(scheduler.html(), u"<p>two|0</p>"_s);
    scheduler.endPauseNow();
    QVERIFY(rendered.wait(TestWaits::limitMs));
    QCOMPARE(scheduler.html(), u"<p>two!|0</p>"_s);
    QCOMPARE(fake.calls.load(), 3);

    // The same key changes nothing; new link titles render again.
    documents.request(u"b"_s, u"two!"_s);
    QVERIFY(!scheduler.isBusy());
    documents.request(u"b"_s, u"two!"_s, {{u"plan"_s, u"p1"_s}});
    scheduler.endPauseNow();
    QVERIFY(rendered.wait(TestWaits::limitMs));
    QCOMPARE(scheduler.html(), u"<p>two!|1</p>"_s);
    QCOMPARE(fake.calls.load(), 4);
    QCOMPARE(rendered.count(), 4);
}

void TestDetailCore::newerChangeDropsAnOlderRender()
{
    FakeRenderer fake;
    DetailRenderScheduler scheduler;
    Documents documents(scheduler);
    scheduler.setRenderFunction(fake.function());
    QSignalSpy rendered(&scheduler, &DetailRenderScheduler::rendered);

    // The old text renders slowly; the user switches to another document
    // whose render finishes first. The late result must not win.
    auto slow = fake.gate(u"old text"_s);
    documents.request(u"a"_s, u"old text"_s);
    QTRY_COMPARE(fake.calls.load(), 1);
    documents.request(u"b"_s, u"new text"_s);
    QVERIFY(rendered.wait(TestWaits::limitMs));
    QCOMPARE(scheduler.html(), u"<p>new text|0</p>"_s);

    slow->release();
    QTRY_VERIFY(!scheduler.isBusy());
    QCOMPARE(rendered.count(), 1);
    QCOMPARE(scheduler.html(), u"<p>new text|0</p>"_s);
    QCOMPARE(scheduler.renderedDocumentID(), u"b"_s);
}

void TestDetailCore::cancelKeepsThePreviousResult()
{
    FakeRenderer fake;
    DetailRenderScheduler scheduler;
    Documents documents(scheduler);
    scheduler.setRenderFunction(fake.function());
    QSignalSpy rendered(&scheduler, &DetailRenderScheduler::rendered);
    documents.request(u"a"_s, u"kept"_s);
    QVERIFY(rendered.wait(TestWaits::limitMs));

    auto slow = fake.gate(u"dropped"_s);
    documents.request(u"b"_s, u"dropped"_s);
    QTRY_COMPARE(fake.calls.load(), 2);
    scheduler.cancel();
    slow->release();
    QTRY_VERIFY(!scheduler.isBusy());
    QCOMPARE(rendered.count(), 1);
    QCOMPARE(scheduler.html(), u"<p>kept|0</p>"_s);

    // After a cancel the same key renders again (the view came back).
    slow->release();
    documents.request(u"b"_s, u"dropped"_s);
    QVERIFY(rendered.wait(TestWaits::limitMs));
    QCOMPARE(scheduler.renderedDocumentID(), u"b"_s);
}

void TestDetailCore::viewMode_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<ViewMode>("mode");

    QTest::newRow("absent reads as split") << QVariant() << ViewMode::split;
    QTest::newRow("editor") << QVariant(u"editor"_s) << ViewMode::editor;
    QTest::newRow("preview") << QVariant(u"preview"_s) << ViewMode::preview;
    QTest::newRow("unknown reads as split") << QVariant(u"columns"_s) << ViewMode::split;
    QTest::newRow("wrong case reads as split") << QVariant(u"Editor"_s) << ViewMode::split;
}

void TestDetailCore::viewMode()
{
    QFETCH(QVariant, stored);
    QFETCH(ViewMode, mode);
    QSettings settings(m_dir->filePath(u"mode-%1.ini"_s.arg(QTest::currentDataTag())), QSettings::IniFormat);
    if (stored.isValid())
        settings.setValue(u"viewMode"_s, stored);
    ViewModeSetting setting(&settings);
    QCOMPARE(setting.mode(), mode);

    setting.setMode(ViewMode::editor);
    QCOMPARE(settings.value(u"viewMode"_s).toString(), u"editor"_s);
}

void TestDetailCore::viewModeFollowsOutsideWrites()
{
    QSettings settings(m_dir->filePath(u"outside.ini"_s), QSettings::IniFormat);
    ViewModeSetting pane(&settings);
    ViewModeSetting palette(&settings);
    QSignalSpy changed(&pane, &ViewModeSetting::modeChanged);

    palette.setMode(ViewMode::preview);
    pane.refresh();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<ViewMode>(), ViewMode::preview);

    // A value that reads as the same mode is no change.
    settings.setValue(u"viewMode"_s, u"nonsense"_s);
    pane.refresh();
    settings.setValue(u"viewMode"_s, u"split"_s);
    pane.refresh();
    QCOMPARE(changed.count(), 2);
    QCOMPARE(pane.mode(), ViewMode::split);
}

void TestDetailCore::readingTime_data()
{
    QTest::addColumn<qsizetype>("words");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty is one minute") << qsizetype(0) << u"1 min read"_s;
    QTest::newRow("220 words") << qsizetype(220) << u"1 min read"_s;
    QTest::newRow("221 words") << qsizetype(221) << u"2 min read"_s;
    QTest::newRow("441 words") << qsizetype(441) << u"3 min read"_s;
}

void TestDetailCore::readingTime()
{
    QFETCH(qsizetype, words);
    QFETCH(QString, text);
    QCOMPARE(DetailStatus::readingTimeText(words), text);
}

void TestDetailCore::exportText()
{
    const QString body = u"---\ntitle: T\n---\n# Hi\n"_s;
    QCOMPARE(DetailExport::exportText(ExportFormat::Markdown, body, u"T"_s, u"<h1>x</h1>"_s), body);
    const QString page =
        DetailExport::exportText(ExportFormat::Html, body, u"A & <B> \"q\""_s, u"<h1>Hi</h1>\n"_s);
    QVERIFY(page.contains(u"<title>A &amp; &lt;B&gt; \"q\"</title>"_s));
    QVERIFY(page.contains(u"<body>\n<h1>Hi</h1>\n\n</body>\n</html>"_s));
    QCOMPARE(DetailExport::suggestedFileName(u"Notes: v1"_s, ExportFormat::Markdown), u"Notes: v1.md"_s);
    QCOMPARE(DetailExport::suggestedFileName(u"Untitled"_s, ExportFormat::Html), u"Untitled.html"_s);
    QCOMPARE(DetailExport::suggestedFileName(u"Q3/Q4 plan"_s, ExportFormat::Markdown), u"Q3-Q4 plan.md"_s);
}

void TestDetailCore::atomicWrite_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("ok");

    QTest::newRow("new file") << u"new.md"_s << true;
    QTest::newRow("replaces an existing file") << u"existing.md"_s << true;
    QTest::newRow("robustness: folder missing") << u"missing/inner.md"_s << false;
    QTest::newRow("robustness: target is a folder") << u"folder"_s << false;
}

void TestDetailCore::atomicWrite()
{
    QFETCH(QString, target);
    QFETCH(bool, ok);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
    {
        QFile existing(dir.filePath(u"existing.md"_s));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("old content that is longer than the new one");
    }
    const QString text = u"# Caf\u00E9 \U0001F600\n"_s;
    QString error;
    QCOMPARE(DetailExport::writeAtomically(dir.filePath(target), text, &error), ok);
    if (ok) {
        QFile file(dir.filePath(target));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), text.toUtf8());
        QVERIFY(error.isEmpty());
    } else {
        QVERIFY(!error.isEmpty());
    }
    // Nothing half-written is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
             ok && target == u"new.md"_s ? 2 : 1);
}

QTEST_GUILESS_MAIN(TestDetailCore)
#include "tst_detailcore.moc"
