// The streamed reply: whole characters at most every 16 ms, how it ends, and
// that cancelling stops the transfer without a word.
#include "FakeByteSource.h"
#include "StreamRecorder.h"
#include "assistant/core/AIAssistant.h"
#include "assistant/core/AIRequest.h"

#include <QPointer>
#include <QTest>

using namespace Qt::StringLiterals;

// One arrival of body bytes, at a clock reading.
struct Arrival
{
    qint64 at;
    QByteArray bytes;
};
using Arrivals = QList<Arrival>;
Q_DECLARE_METATYPE(Arrivals)

class TestAIStream : public QObject
{
    Q_OBJECT

    qint64 m_now = 0;
    QPointer<FakeByteSource> m_source;

    void open(StreamRecorder &run, QObject *owner)
    {
        m_now = 1000;
        AIAssistant assistant([this](const QByteArray &) { return (m_source = new FakeByteSource).data(); },
                              [this] { return m_now; });
        run.watch(assistant.stream(AIRequest::generate(u"p"_s, {}, {}), owner));
        m_source->start();
    }

private Q_SLOTS:
    void replies_data()
    {
        QTest::addColumn<Arrivals>("arrivals");
        QTest::addColumn<QString>("ending"); // how the body ends: "end", "error" or "drop"
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QString>("errorCode");
        QTest::addColumn<int>("status");
        const QByteArray euro = "\xE2\x82\xAC"; // €, three bytes
        QTest::newRow("all within 16 ms: one chunk at the end")
            << Arrivals{{1000, "Hel"}, {1010, "lo"}} << u"end"_s << QStringList{u"Hello"_s} << QString() << 0;
        QTest::newRow("a character split across a flush waits for its rest")
            << Arrivals{{1000, "ab" + euro.left(1)}, {1020, euro.mid(1, 1)}, {1030, euro.mid(2)}, {1040, "c"}}
            << u"end"_s << QStringList{u"ab"_s, u"\u20ACc"_s} << QString() << 0;
        QTest::newRow("a stray byte mid-stream is U+FFFD")
            << Arrivals{{1020, "a\x80"}, {1040, "b"}} << u"end"_s << QStringList{u"a\uFFFD"_s, u"b"_s}
            << QString() << 0;
        QTest::newRow("a cut-off last character drops only itself")
            << Arrivals{{1020, "one "}, {1025, "two" + euro.left(2)}} << u"end"_s
            << QStringList{u"one "_s, u"two"_s} << QString() << 0;
        QTest::newRow("a stray byte in the remainder is U+FFFD")
            << Arrivals{{1005, "x\xFFy"}} << u"end"_s << QStringList{u"x\uFFFDy"_s} << QString() << 0;
        QTest::newRow("empty body") << Arrivals{} << u"end"_s << QStringList{} << u"empty"_s << 502;
        QTest::newRow("only a cut-off character")
            << Arrivals{{1030, euro.left(2)}} << u"end"_s << QStringList{} << u"empty"_s << 502;
        QTest::newRow("the client's error passes unchanged")
            << Arrivals{{1020, "kept"}} << u"error"_s << QStringList{u"kept"_s} << u"unauthorized"_s << 401;
        QTest::newRow("a dropped connection is a stream failure")
            << Arrivals{{1020, "kept"}} << u"drop"_s << QStringList{u"kept"_s} << u"stream"_s << 0;
    }

    void replies()
    {
        QFETCH(Arrivals, arrivals);
        QFETCH(QString, ending);
        QFETCH(QStringList, chunks);
        QFETCH(QString, errorCode);
        QFETCH(int, status);
        QObject owner;
        StreamRecorder run;
        open(run, &owner);
        for (const Arrival &arrival : arrivals) {
            m_now = arrival.at;
            m_source->send(arrival.bytes);
        }
        if (ending == u"error")
            m_source->fail({u"unauthorized"_s, u"Sign in to continue."_s, 401});
        else if (ending == u"drop")
            m_source->breakOff();
        m_source->end(); // nothing after the first end
        QCOMPARE(run.chunks, chunks);
        QVERIFY(!run.offMainThread);
        QCOMPARE(run.finished, errorCode.isEmpty());
        QCOMPARE(run.error.has_value(), !errorCode.isEmpty());
        if (run.error) {
            QCOMPARE(run.error->code, errorCode);
            QCOMPARE(run.error->status, status);
            QVERIFY(!run.error->message.isEmpty());
        }
    }

    void cancelAbortsSilently()
    {
        QObject owner;
        StreamRecorder run;
        open(run, &owner);
        m_now = 1020;
        m_source->send("a");
        owner.findChild<AIStream *>()->cancel();
        QCOMPARE(m_source->aborts, 1);
        m_now = 1040;
        m_source->send("b");
        m_source->end();
        QCOMPARE(run.chunks, QStringList{u"a"_s});
        QVERIFY(!run.over());
    }
};

QTEST_GUILESS_MAIN(TestAIStream)
#include "tst_aistream.moc"
