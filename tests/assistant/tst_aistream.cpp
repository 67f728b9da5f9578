// The streamed reply: whole characters at most every 16 ms, how it ends over
// a real client and a loopback server, that a reply is read only up to its
// limit, and that cancelling stops the transfer without a word.
#include "LoopbackReply.h"
#include "StreamRecorder.h"
#include "assistant/core/AIAssistant.h"
#include "assistant/core/AIReplyDecoder.h"
#include "assistant/core/AIRequest.h"
#include "service/core/APIClient.h"

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

    LoopbackReply m_service;
    std::unique_ptr<APIClient> m_client;
    qint64 m_now = 0;

    AIStream *open(StreamRecorder &run, QObject *owner)
    {
        // Every reading is a hand-over interval after the one before.
        auto *assistant = new AIAssistant(
            AIAssistant::overClient(m_client.get()), [this] { return m_now += 20; }, owner);
        AIStream *stream = run.watch(assistant->stream(AIRequest::generate(u"p"_s, {}, {}), owner));
        const int before = m_service.requests();
        if (!QTest::qWaitFor([&] { return m_service.requests() > before && m_service.requested(); },
                             TestWaits::limitMs))
            qWarning("no request came");
        return stream;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_client = std::make_unique<APIClient>(m_service.url());
        m_client->setTokenProvider([] { return std::optional(u"t"_s); });
    }

    void decoding_data()
    {
        QTest::addColumn<Arrivals>("arrivals");
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<bool>("yielded");
        const QByteArray euro = "\xE2\x82\xAC"; // €, three bytes
        QTest::newRow("all within 16 ms: one chunk at the end")
            << Arrivals{{1000, "Hel"}, {1010, "lo"}} << QStringList{u"Hello"_s} << true;
        QTest::newRow("a character split across a flush waits for its rest")
            << Arrivals{{1000, "ab" + euro.left(1)}, {1020, euro.mid(1, 1)}, {1030, euro.mid(2)}, {1040, "c"}}
            << QStringList{u"ab"_s, u"\u20ACc"_s} << true;
        QTest::newRow("a stray byte mid-stream is U+FFFD")
            << Arrivals{{1020, "a\x80"}, {1040, "b"}} << QStringList{u"a\uFFFD"_s, u"b"_s} << true;
        QTest::newRow("a cut-off last character drops only itself")
            << Arrivals{{1020, "one "}, {1025, "two" + euro.left(2)}} << QStringList{u"one "_s, u"two"_s}
            << true;
        QTest::newRow("a stray byte in the remainder is U+FFFD")
            << Arrivals{{1005, "x\xFFy"}} << QStringList{u"x\uFFFDy"_s} << true;
        QTest::newRow("empty body") << Arrivals{} << QStringList{} << false;
        QTest::newRow("only a cut-off character") << Arrivals{{1030, euro.left(2)}} << QStringList{} << false;
    }

    void decoding()
    {
        QFETCH(Arrivals, arrivals);
        QFETCH(QStringList, chunks);
        QFETCH(bool, yielded);
        AIReplyDecoder decoder;
        decoder.start(1000);
        QStringList out;
        for (const Arrival &arrival : arrivals)
            if (const std::optional<QString> text = decoder.push(arrival.bytes, arrival.at))
                out << *text;
        if (const std::optional<QString> text = decoder.finish())
            out << *text;
        QCOMPARE(out, chunks);
        QCOMPARE(decoder.yielded(), yielded);
    }

    void endings_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("errorCode"); // empty: finished
        QTest::addColumn<int>("status");
        QTest::newRow("whole reply") << u"end"_s << u"kept"_s << QString() << 0;
        QTest::newRow("empty body") << u"empty"_s << QString() << u"empty"_s << 502;
        QTest::newRow("the client's error passes unchanged")
            << u"401"_s << QString() << u"unauthorized"_s << 401;
        QTest::newRow("a dropped connection is a stream failure")
            << u"drop"_s << u"kept"_s << u"stream"_s << 0;
    }

    void endings()
    {
        QFETCH(QString, ending);
        QFETCH(QString, text);
        QFETCH(QString, errorCode);
        QFETCH(int, status);
        QObject owner;
        StreamRecorder run;
        open(run, &owner);
        if (ending == u"401") {
            m_service.error(401, R"({"error":{"code":"unauthorized","message":"Sign in to continue."}})");
        } else {
            m_service.head();
            if (!text.isEmpty()) {
                m_service.send(text.toUtf8());
                QTRY_COMPARE(run.text(), text);
            }
            if (ending == u"drop")
                m_service.drop();
            else
                m_service.end();
        }
        QTRY_VERIFY(run.over());
        QCOMPARE(run.text(), text);
        QVERIFY(!run.offMainThread);
        QCOMPARE(run.error.has_value(), !errorCode.isEmpty());
        if (run.error) {
            QCOMPARE(run.error->code, errorCode);
            QCOMPARE(run.error->status, status);
            QVERIFY(!run.error->message.isEmpty());
        }
    }

    void replyIsReadUpToItsLimit()
    {
        QObject owner;
        StreamRecorder run;
        open(run, &owner);
        m_service.head();
        // 5 MiB in 64 KiB pieces, each with an "é" split across its end.
        for (int i = 0; i < 80 && m_service.connected(); ++i) {
            m_service.send((i ? "\xA9" : "") + QByteArray(65535 - (i ? 1 : 0), 'a') + "\xC3");
            QCoreApplication::processEvents();
        }
        m_service.end();
        QTRY_VERIFY(run.over());
        QVERIFY(run.error);
        QCOMPARE(run.error->code, AIStream::tooLongError().code);
        QCOMPARE(run.error->message, u"The AI reply was too long."_s);
        const QString text = run.text();
        QCOMPARE(text.toUtf8().size(), AIStream::maximumReplyBytes - 1); // the last character was cut
        QVERIFY(!text.contains(QChar::ReplacementCharacter));
        QTRY_VERIFY(!m_service.connected());
    }

    void cancelAbortsSilently()
    {
        QObject owner;
        StreamRecorder run;
        AIStream *stream = open(run, &owner);
        m_service.head();
        m_service.send("a");
        QTRY_COMPARE(run.text(), u"a"_s);
        stream->cancel();
        QTRY_VERIFY(!m_service.connected());
        QCoreApplication::processEvents();
        QCOMPARE(run.chunks, QStringList{u"a"_s});
        QVERIFY(!run.over());
    }
};

QTEST_GUILESS_MAIN(TestAIStream)
#include "tst_aistream.moc"
