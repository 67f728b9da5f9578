#include "protocol/Rules.h"

#include <QTest>
#include <QUrl>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

class TestRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void slugs_data()
    {
        QTest::addColumn<QString>("slug");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("one character") << u"a"_s << false;
        QTest::newRow("two letters") << u"ab"_s << true;
        QTest::newRow("letter and digit") << u"a1"_s << true;
        QTest::newRow("hyphenated") << u"my-post-2"_s << true;
        QTest::newRow("60 characters") << QString(60, u'a') << true;
        QTest::newRow("61 characters") << QString(61, u'a') << false;
        QTest::newRow("double hyphen") << u"a--b"_s << false;
        QTest::newRow("leading hyphen") << u"-ab"_s << false;
        QTest::newRow("trailing hyphen") << u"ab-"_s << false;
        QTest::newRow("upper case") << u"My-post"_s << false;
        QTest::newRow("underscore") << u"my_post"_s << false;
        QTest::newRow("space") << u"my post"_s << false;
        QTest::newRow("accent") << u"café"_s << false;
        // "$" in a pattern also matches before a final line break.
        QTest::newRow("trailing line break") << u"ab\n"_s << false;
        QTest::newRow("combining mark keeps 2 characters") << u"a\u0301b"_s << false;
    }

    void slugs()
    {
        QFETCH(QString, slug);
        QFETCH(bool, valid);
        QCOMPARE(protocol::slugs::isValid(slug), valid);
    }

    void siteHandles_data()
    {
        QTest::addColumn<QString>("handle");
        QTest::addColumn<bool>("hostLabel");
        QTest::addColumn<bool>("canChoose"); // after normalizing
        QTest::newRow("lower case") << u"ann"_s << true << true;
        QTest::newRow("upper case is a host label") << u"Ann"_s << true << true;
        QTest::newRow("one character") << u"a"_s << true << true;
        QTest::newRow("63 characters") << QString(63, u'a') << true << true;
        QTest::newRow("64 characters") << QString(64, u'a') << false << false;
        QTest::newRow("inner hyphen") << u"a-b"_s << true << true;
        QTest::newRow("leading hyphen") << u"-ab"_s << false << false;
        QTest::newRow("trailing hyphen") << u"ab-"_s << false << false;
        QTest::newRow("dot") << u"a.b"_s << false << false;
        QTest::newRow("trailing line break") << u"ab\n"_s << false << true; // trimmed at sign-up
        QTest::newRow("reserved") << u"www"_s << true << false;
        QTest::newRow("reserved in capitals") << u"BLOG"_s << true << false;
        QTest::newRow("reserved: localhost") << u"localhost"_s << true << false;
        QTest::newRow("reserved: admin") << u"Admin"_s << true << false;
        QTest::newRow("reserved: mail") << u"mail"_s << true << false;
        QTest::newRow("reserved: static") << u"static"_s << true << false;
        QTest::newRow("reserved: media") << u"media"_s << true << false;
        QTest::newRow("punycode label") << u"xn--bcher-kva"_s << true << false;
        QTest::newRow("punycode prefix in capitals") << u"XN--abc"_s << true << false;
        QTest::newRow("xn without the double hyphen") << u"xn-abc"_s << true << true;
        QTest::newRow("a reserved name inside another") << u"mailbox"_s << true << true;
        QTest::newRow("empty") << QString() << false << false;
    }

    void siteHandles()
    {
        QFETCH(QString, handle);
        QFETCH(bool, hostLabel);
        QFETCH(bool, canChoose);
        QCOMPARE(protocol::siteHandles::isHostLabel(handle), hostLabel);
        QCOMPARE(protocol::siteHandles::canChoose(protocol::siteHandles::normalized(handle)), canChoose);
    }

    void presetIdsRoundTrip()
    {
        QStringList ids;
        for (const protocol::ai::Preset preset : protocol::ai::presets()) {
            const QString id = protocol::ai::presetId(preset);
            QCOMPARE(protocol::ai::presetFromId(id), preset);
            ids << id;
        }
        QCOMPARE(ids.size(), 11);
        QCOMPARE(ids.first(), u"fix-grammar"_s);
        QVERIFY(!protocol::ai::presetFromId(protocol::ai::customAction()));
    }

    // A reply at the cap ends on a whole character, whichever side cuts it.
    void aiReplyCutsOnWholeCharacters_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qsizetype>("room");
        QTest::addColumn<QByteArray>("kept");
        const QByteArray euro = "\xE2\x82\xAC"; // three bytes
        QTest::newRow("fits") << "ab"_ba << qsizetype(5) << "ab"_ba;
        QTest::newRow("ASCII cut") << "abc"_ba << qsizetype(2) << "ab"_ba;
        QTest::newRow("inside a character") << "a" + euro << qsizetype(3) << "a"_ba;
        QTest::newRow("after a character") << "a" + euro + "b" << qsizetype(4) << "a" + euro;
        QTest::newRow("no room") << "ab"_ba << qsizetype(0) << QByteArray();
        QTest::newRow("room for none of a character") << euro << qsizetype(2) << QByteArray();
    }

    void aiReplyCutsOnWholeCharacters()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qsizetype, room);
        QFETCH(QByteArray, kept);
        QCOMPARE(protocol::ai::cutToFit(bytes, room), kept);
    }

    // A token or code with characters special in a query reaches the app whole.
    void signInCallbackLinks()
    {
        using namespace protocol::signInCallback;
        const QString token = u"a+b&ott=c d%"_s;
        const QUrl link(QString::fromLatin1(protocol::signInCallback::link(tokenItem, token)));
        QCOMPARE(link.scheme(), u"tessivo"_s);
        const QList<std::pair<QString, QString>> items = QUrlQuery(link).queryItems(QUrl::FullyDecoded);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.first().first, QString(tokenItem));
        QCOMPARE(items.first().second, token);
    }

    void bearerTokens_data()
    {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("bearer") << protocol::bearerHeader(u"abc"_s) << "abc"_ba;
        QTest::newRow("padded") << "Bearer  abc "_ba
                                << "abc"_ba;
        QTest::newRow("other scheme") << "Basic abc"_ba << QByteArray();
        QTest::newRow("lower-case scheme") << "bearer abc"_ba << QByteArray();
        QTest::newRow("none") << QByteArray() << QByteArray();
    }

    void bearerTokens()
    {
        QFETCH(QByteArray, authorization);
        QFETCH(QByteArray, token);
        QCOMPARE(protocol::bearerToken(authorization), token);
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
