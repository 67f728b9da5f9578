// The streamed reply: whole characters at most every 16 ms, how it ends, and
// that cancelling stops the transfer without a word.
#include "FakeByteSource.h"
#include "assistant/core/AIAssistant.h"
#include "assistant/core/AIRequest.h"
#include "assistant/core/AIStream.h"

#include <QPointer>
#include <QTest>
#include <QThread>

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

    struct Run
    {
        QStringList chunks;
        std::optional<APIError> error;
        bool finished = false;
        bool onMainThread = true;
    };

    qint64 m_now = 0;
    QPointer<FakeByteSource> m_source;

    AIStream *open(Run &run, QObject *owner)
    {
        m_now = 1000;
        AIAssistant assistant(
            [this](const QByteArray &) {
                m_source = new FakeByteSource;
                return m_source.data();
            },
            [this] { return m_now; });
        AIStream *stream = assistant.stream(AIRequest::generate(u"p"_s, {}, {}), owner);
        connect(stream, &AIStream::chunk, owner, [&run](const QString &text) {
            run.chunks << text;
            run.onMainThread &= QThread::currentThread() == qApp->thread();
        });
        connect(stream, &AIStream::finished, owner, [&run] { run.finished = true; });
        connect(stream, &AIStream::failed, owner, [&run](const APIError &error) { run.error = error; });
        m_source->start();
        return stream;
    }

private Q_SLOTS:
    void chunks_data()
    {
        QTest::addColumn<Arrivals>("arrivals");
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QString>("errorCode");
        const QByteArray euro = "\xE2\x82\xAC"; // €, three bytes
        QTest::newRow("all within 16 ms: one chunk at the end")
            << Arrivals{{1000, "Hel"}, {1010, "lo"}} << QStringList{u"Hello"_s} << QString();
        QTest::newRow("a character split across a flush waits for its rest")
            << Arrivals{{1000, "ab" + euro.left(1)}, {1020, euro.mid(1, 1)}, {1030, euro.mid(2)}, {1040, "c"}}
            << QStringList{u"ab"_s, u"\u20ACc"_s} << QString();
        QTest::newRow("a four-byte character cut after each byte")
            << Arrivals{{1016, "\xF0"}, {1032, "\x9F"}, {1048, "\x98"}, {1064, "\x80"}}
            << QStringList{u"\U0001F600"_s} << QString();
        QTest::newRow("a stray byte mid-stream is U+FFFD")
            << Arrivals{{1020, "a\x80"}, {1040, "b"}} << QStringList{u"a\uFFFD"_s, u"b"_s} << QString();
        QTest::newRow("a cut-off last character drops only itself")
            << Arrivals{{1020, "one "}, {1025, "two" + euro.left(2)}} << QStringList{u"one "_s, u"two"_s}
            << QString();
        QTest::newRow("a stray byte in the remainder is U+FFFD")
            << Arrivals{{1005, "x\xFFy"}} << QStringList{u"x\uFFFDy"_s} << QString();
        QTest::newRow("empty body") << Arrivals{} << QStringList{} << u"empty"_s;
        QTest::newRow("only a cut-off character")
            << Arrivals{{1030, euro.left(2)}} << QStringList{} << u"empty"_s;
    }

    void chunks()
    {
        QFETCH(Arrivals, arrivals);
        QFETCH(QStringList, chunks);
        QFETCH(QString, errorCode);
        QObject owner;
        Run run;
        open(run, &owner);
        for (const Arrival &arrival : arrivals) {
            m_now = arrival.at;
            m_source->send(arrival.bytes);
        }
        m_source->end();
        QCOMPARE(run.chunks, chunks);
        QVERIFY(run.onMainThread);
        QCOMPARE(run.finished, errorCode.isEmpty());
        QCOMPARE(run.error.has_value(), !errorCode.isEmpty());
        if (run.error) {
            QCOMPARE(run.error->code, errorCode);
            QCOMPARE(run.error->status, 502);
            QCOMPARE(run.error->message, u"Nothing came back. Try rephrasing the request."_s);
        }
    }

    void failures_data()
    {
        QTest::addColumn<bool>("clientError");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("status");
        QTest::newRow("the client's error passes unchanged") << true << u"unauthorized"_s << 401;
        QTest::newRow("a dropped connection is a stream failure") << false << u"stream"_s << 0;
    }

    void failures()
    {
        QFETCH(bool, clientError);
        QFETCH(QString, code);
        QFETCH(int, status);
        QObject owner;
        Run run;
        open(run, &owner);
        m_now = 1020;
        m_source->send("kept");
        if (clientError) {
            m_source->fail({u"unauthorized"_s, u"Sign in to continue."_s, 401});
        } else {
            m_source->breakOff();
        }
        m_source->end(); // nothing after the end
        QCOMPARE(run.chunks, QStringList{u"kept"_s});
        QVERIFY(!run.finished);
        QVERIFY(run.error);
        QCOMPARE(run.error->code, code);
        QCOMPARE(run.error->status, status);
        if (!clientError) {
            QCOMPARE(run.error->message, u"The AI request failed. Try again."_s);
        }
    }

    void cancelAbortsSilently()
    {
        QObject owner;
        Run run;
        AIStream *stream = open(run, &owner);
        m_now = 1020;
        m_source->send("a");
        stream->cancel();
        QVERIFY(m_source->aborted);
        m_now = 1040;
        m_source->send("b");
        m_source->end();
        QCOMPARE(run.chunks, QStringList{u"a"_s});
        QVERIFY(!run.finished);
        QVERIFY(!run.error);

        // Dropping the stream cancels it too.
        Run dropped;
        delete open(dropped, &owner);
        QVERIFY(!m_source); // the source went with it, after its abort
    }
};

QTEST_GUILESS_MAIN(TestAIStream)
#include "tst_aistream.moc"
