// What may be sent to the writing assistant, and how it goes on the wire.
#include "assistant/core/AIRequest.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(AIRequest)

class TestAIRequest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void validation_data()
    {
        QTest::addColumn<AIRequest>("request");
        QTest::addColumn<QString>("message");
        const QString astral = u"\U0001F600"_s;
        const auto refine = [](const QString &text, const QString &action = u"fix-grammar"_s,
                               const QString &prompt = QString()) {
            return AIRequest::refine(action, prompt, text, u"b"_s, u"a"_s);
        };
        QTest::newRow("blank selection, whatever the prompt")
            << refine(u" \n\t "_s, u"custom"_s, u"x"_s) << u"Select some text to refine."_s;
        QTest::newRow("20000 units pass") << refine(QString(20000, u'x')) << QString();
        QTest::newRow("20001 units are too long")
            << refine(QString(20001, u'x')) << u"Selection is too long to refine (max 20,000 characters)."_s;
        QTest::newRow("10000 astral characters count 20000") << refine(astral.repeated(10000)) << QString();
        QTest::newRow("10001 astral characters are too long")
            << refine(astral.repeated(10001))
            << u"Selection is too long to refine (max 20,000 characters)."_s;
        QTest::newRow("custom without instruction")
            << refine(u"text"_s, u"custom"_s, u" \t"_s) << u"Type what you'd like changed."_s;
        QTest::newRow("custom whose prompt is a line break passes")
            << refine(u"text"_s, u"custom"_s, u"\n"_s) << QString();
        QTest::newRow("preset with empty prompt passes") << refine(u"text"_s) << QString();
        QTest::newRow("1000-unit prompt passes")
            << refine(u"t"_s, u"custom"_s, QString(1000, u'p')) << QString();
        QTest::newRow("1001-unit prompt is too long")
            << refine(u"t"_s, u"custom"_s, QString(1001, u'p')) << u"Prompt is too long."_s;
        QTest::newRow("generate without prompt")
            << AIRequest::generate(u"  "_s, {}, {}) << u"Describe what you'd like written."_s;
        QTest::newRow("generate with a line break passes")
            << AIRequest::generate(u"\n"_s, {}, {}) << QString();
    }

    void validation()
    {
        QFETCH(AIRequest, request);
        QFETCH(QString, message);
        QCOMPARE(
            request.validationError(QLocale(QLocale::English, QLocale::UnitedStates)).value_or(QString()),
            message);
    }

    void bodyCarriesEveryKeyOfTheMode()
    {
        const auto json = [](const QByteArray &body) { return QJsonDocument::fromJson(body).object(); };
        QCOMPARE(
            json(AIRequest::refine(u"condense"_s, {}, u" t "_s, u"b"_s, {}).encodedBody()),
            json(
                R"({"mode":"refine","action":"condense","prompt":"","text":" t ","before":"b","after":""})"));
        const QByteArray generate = AIRequest::generate(u"p"_s, u"b"_s, u"a"_s).encodedBody();
        QVERIFY(!generate.contains(' '));
        QCOMPARE(json(generate), json(R"({"mode":"generate","prompt":"p","before":"b","after":"a"})"));
    }
};

QTEST_GUILESS_MAIN(TestAIRequest)
#include "tst_airequest.moc"
