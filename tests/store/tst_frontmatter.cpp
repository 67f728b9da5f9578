#include "store/FrontmatterParser.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;
using FrontmatterParser::Value;

namespace {

// A compact, readable form of a value: s:text, n:text, b:true, null, [..].
QString describe(const Value &v)
{
    switch (v.kind) {
    case Value::Kind::Bool:
        return v.boolValue ? u"b:true"_s : u"b:false"_s;
    case Value::Kind::Number:
        return u"n:"_s + v.text;
    case Value::Kind::String:
        return u"s:"_s + v.text;
    case Value::Kind::Array: {
        QStringList parts;
        for (const Value &item : v.items) {
            parts << describe(item);
        }
        return u'[' + parts.join(u'|') + u']';
    }
    case Value::Kind::Null:
        break;
    }
    return u"null"_s;
}

QStringList describeFields(const QMap<QString, Value> &fields)
{
    QStringList out;
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        out << it.key() + u'=' + describe(it.value());
    }
    return out;
}

} // namespace

class TestFrontmatter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isBlock");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("body");

        QTest::newRow("simple block")
            << u"---\ntitle: A\n---\nText"_s << true << QStringList{u"title=s:A"_s} << u"Text"_s;
        QTest::newRow("CR LF line ends give LF body") << u"---\r\ntitle: A\r\n---\r\nText\r\nMore"_s << true
                                                      << QStringList{u"title=s:A"_s} << u"Text\nMore"_s;
        QTest::newRow("no closing line") << u"---\ntitle: A\n"_s << false << QStringList() << QString();
        QTest::newRow("empty block") << u"---\n---\nBody"_s << true << QStringList() << u"Body"_s;
        QTest::newRow("closing line last")
            << u"---\ntitle: A\n---"_s << true << QStringList{u"title=s:A"_s} << QString();
        QTest::newRow("closing line then LF")
            << u"---\ntitle: A\n---\n"_s << true << QStringList{u"title=s:A"_s} << QString();
        QTest::newRow("leading blank line is not a block")
            << u"\n---\ntitle: A\n---\n"_s << false << QStringList() << QString();
        QTest::newRow("byte-order mark is not a block")
            << u"\ufeff---\ntitle: A\n---\n"_s << false << QStringList() << QString();
        QTest::newRow("opening line with trailing space")
            << u"--- \ntitle: A\n---\n"_s << false << QStringList() << QString();
        QTest::newRow("dots do not close")
            << u"---\ntitle: A\n...\nText"_s << false << QStringList() << QString();
        QTest::newRow("closing line with space does not close")
            << u"---\ntitle: A\n--- \nText"_s << false << QStringList() << QString();
        QTest::newRow("later key replaces earlier")
            << u"---\ntitle: A\ntitle: B\n---\n"_s << true << QStringList{u"title=s:B"_s} << QString();
        QTest::newRow("keys are case-sensitive, odd lines ignored")
            << u"---\nTitle: A\nmy.key: x\n  indented: y\nno colon\nsnake_key-2 :  v \n---\nrest"_s << true
            << QStringList{u"Title=s:A"_s, u"snake_key-2=s:v"_s} << u"rest"_s;
        QTest::newRow("unicode key") << u"---\nt\u00eftre: \u00e9\n---\n"_s << true
                                     << QStringList{u"t\u00eftre=s:\u00e9"_s} << QString();
        QTest::newRow("empty values are null") << u"---\ntitle:\ndesc: ~\n---\n"_s << true
                                               << QStringList{u"desc=null"_s, u"title=null"_s} << QString();
        QTest::newRow("body keeps later separators")
            << u"---\na: 1\n---\nx\n---\ny"_s << true << QStringList{u"a=n:1"_s} << u"x\n---\ny"_s;
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, isBlock);
        QFETCH(QStringList, fields);
        QFETCH(QString, body);
        const auto parsed = FrontmatterParser::parse(text);
        QCOMPARE(parsed.has_value(), isBlock);
        if (parsed) {
            QCOMPARE(describeFields(parsed->fields), fields);
            QCOMPARE(parsed->body, body);
        }
    }

    void parseValue_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QString() << u"null"_s;
        QTest::newRow("spaces only") << u" \t "_s << u"null"_s;
        QTest::newRow("null word") << u"null"_s << u"null"_s;
        QTest::newRow("tilde") << u"~"_s << u"null"_s;
        QTest::newRow("true") << u" true "_s << u"b:true"_s;
        QTest::newRow("false") << u"false"_s << u"b:false"_s;
        QTest::newRow("True is a string") << u"True"_s << u"s:True"_s;
        QTest::newRow("yes is a string") << u"yes"_s << u"s:yes"_s;
        QTest::newRow("integer") << u"42"_s << u"n:42"_s;
        QTest::newRow("negative") << u"-7"_s << u"n:-7"_s;
        QTest::newRow("decimal keeps its text") << u"3.250"_s << u"n:3.250"_s;
        QTest::newRow("exponent is a string") << u"1e3"_s << u"s:1e3"_s;
        QTest::newRow("plus sign is a string") << u"+1"_s << u"s:+1"_s;
        QTest::newRow("leading dot is a string") << u".5"_s << u"s:.5"_s;
        QTest::newRow("date is a string") << u"2024-01-05"_s << u"s:2024-01-05"_s;
        QTest::newRow("double quotes") << u"\"A: B\""_s << u"s:A: B"_s;
        QTest::newRow("single quotes") << u"'x'"_s << u"s:x"_s;
        QTest::newRow("empty double quotes") << u"\"\""_s << u"s:"_s;
        QTest::newRow("no unescaping") << u"\"a\\\"b\""_s << u"s:a\\\"b"_s;
        QTest::newRow("lone quote") << u"\""_s << u"s:\""_s;
        QTest::newRow("mixed quotes") << u"'x\""_s << u"s:'x\""_s;
        QTest::newRow("quoted number stays text") << u"\"2024\""_s << u"s:2024"_s;
        QTest::newRow("empty array") << u"[ \t ]"_s << u"[]"_s;
        QTest::newRow("array") << u"[a, 'b, c', [d, e]]"_s << u"[s:a|s:b, c|[s:d|s:e]]"_s;
        QTest::newRow("array with typed items") << u"[1, true, ~]"_s << u"[n:1|b:true|null]"_s;
        QTest::newRow("trailing comma gives null item") << u"[a,]"_s << u"[s:a|null]"_s;
        QTest::newRow("unclosed bracket is a string") << u"[a, b"_s << u"s:[a, b"_s;
        const auto nested = [](int depth) { return u"["_s.repeated(depth) + u'a' + u"]"_s.repeated(depth); };
        QTest::newRow("hostile: nesting past 32 levels reads as a string")
            << nested(40) << u"["_s.repeated(32) + u"s:"_s + nested(8) + u"]"_s.repeated(32);
        QTest::newRow("hostile: 30,000 levels")
            << nested(30000) << u"["_s.repeated(32) + u"s:"_s + nested(30000 - 32) + u"]"_s.repeated(32);
        QTest::newRow("line break is not trimmed") << u"x\n"_s << u"s:x\n"_s;
    }

    void parseValue()
    {
        QFETCH(QString, raw);
        QFETCH(QString, expected);
        QCOMPARE(describe(FrontmatterParser::parseValue(raw)), expected);
    }

    void splitArrayItems_data()
    {
        QTest::addColumn<QString>("inside");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("plain") << u"a,b"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("quotes and brackets kept")
            << u"a, 'b, c', [d, e]"_s << QStringList{u"a"_s, u" 'b, c'"_s, u" [d, e]"_s};
        QTest::newRow("double quotes hide single")
            << u"\"it's, ok\", x"_s << QStringList{u"\"it's, ok\""_s, u" x"_s};
        QTest::newRow("trailing comma") << u"a,"_s << QStringList{u"a"_s, QString()};
        QTest::newRow("negative depth splits nothing") << u"], a, b"_s << QStringList{u"], a, b"_s};
        QTest::newRow("unbalanced quote swallows rest") << u"'a, b"_s << QStringList{u"'a, b"_s};
    }

    void splitArrayItems()
    {
        QFETCH(QString, inside);
        QFETCH(QStringList, items);
        QCOMPARE(FrontmatterParser::splitArrayItems(inside), items);
    }

    void extract_data()
    {
        // The six known fields as stored, in a record's JSON form.
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("frontmatter");
        QTest::addColumn<QStringList>("overrides");
        QTest::addColumn<QString>("body");
        const QStringList title{u"title"_s}, tags{u"tags"_s};
        QTest::newRow("title") << u"---\ntitle: A\n---\nText"_s << QByteArray(R"({"title":"A"})") << title
                               << u"Text"_s;
        QTest::newRow("no block keeps text")
            << u"---\ntitle: A\n"_s << QByteArray("{}") << QStringList() << u"---\ntitle: A\n"_s;
        QTest::newRow("number title ignored")
            << u"---\ntitle: 2024\n---\n"_s << QByteArray("{}") << QStringList() << QString();
        QTest::newRow("quoted number title")
            << u"---\ntitle: \"2024\"\n---\n"_s << QByteArray(R"({"title":"2024"})") << title << QString();
        QTest::newRow("null and empty titles") << u"---\ntitle:\ndescription: \"\"\nslug: '  '\n---\n"_s
                                               << QByteArray("{}") << QStringList() << QString();
        QTest::newRow("quoted title is trimmed") << u"---\ntitle: \"  Padded\t\"\n---\n"_s
                                                 << QByteArray(R"({"title":"Padded"})") << title << QString();
        QTest::newRow("all six in fixed order")
            << u"---\ndraft: true\ntags: [a, b]\ndate: 2024-01-05\nslug: s\ndescription: D\ntitle: T\nother: x\n---\nB"_s
            << QByteArray(
                   R"({"date":"2024-01-05","description":"D","draft":true,"slug":"s","tags":["a","b"],)"
                   R"("title":"T"})")
            << QStringList{u"title"_s, u"description"_s, u"slug"_s, u"date"_s, u"tags"_s, u"draft"_s}
            << u"B"_s;
        QTest::newRow("draft false is absent")
            << u"---\ndraft: false\n---\n"_s << QByteArray("{}") << QStringList() << QString();
        QTest::newRow("draft as string is absent")
            << u"---\ndraft: \"true\"\n---\n"_s << QByteArray("{}") << QStringList() << QString();
        QTest::newRow("empty tags dropped")
            << u"---\ntags: [a, , b]\n---\n"_s << QByteArray(R"({"tags":["a","b"]})") << tags << QString();
        QTest::newRow("no tags in empty list")
            << u"---\ntags: []\n---\n"_s << QByteArray("{}") << QStringList() << QString();
        QTest::newRow("unbracketed tags are a string")
            << u"---\ntags: a, b\n---\n"_s << QByteArray("{}") << QStringList() << QString();
        QTest::newRow("nested tags joined") << u"---\ntags: [[x, y], z]\n---\n"_s
                                            << QByteArray(R"({"tags":["x,y","z"]})") << tags << QString();
        QTest::newRow("tag items as text, not trimmed")
            << u"---\ntags: [1.5, true, ~, \" spaced \"]\n---\n"_s
            << QByteArray(R"({"tags":["1.5","true"," spaced "]})") << tags << QString();
    }

    void extract()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, frontmatter);
        QFETCH(QStringList, overrides);
        QFETCH(QString, body);
        const FrontmatterParser::Extracted e = FrontmatterParser::extract(text);
        QCOMPARE(QJsonDocument(e.frontmatter.toJson()).toJson(QJsonDocument::Compact), frontmatter);
        QCOMPARE(e.overrides, overrides);
        QCOMPARE(e.body, body);
    }

    void strip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("block removed") << u"---\ntitle: A\n---\nText"_s << u"Text"_s;
        QTest::newRow("CR LF remainder kept as is")
            << u"---\r\ntitle: A\r\n---\r\nText\r\nMore"_s << u"Text\r\nMore"_s;
        QTest::newRow("no closing line") << u"---\ntitle: A\n"_s << u"---\ntitle: A\n"_s;
        QTest::newRow("closed by dots") << u"---\na: b\n...\nText"_s << u"Text"_s;
        QTest::newRow("closing line with spaces") << u"---\na: b\n  ---  \nText"_s << u"Text"_s;
        QTest::newRow("closing line last") << u"---\na: b\n---"_s << QString();
        QTest::newRow("only the first block") << u"---\n---\n---\nx\n---\n"_s << u"---\nx\n---\n"_s;
        QTest::newRow("no block at start") << u"Text\n---\na\n---\n"_s << u"Text\n---\na\n---\n"_s;
        QTest::newRow("dashes alone") << u"---"_s << u"---"_s;
        QTest::newRow("opening with trailing space") << u"--- \na\n---\nx"_s << u"--- \na\n---\nx"_s;
    }

    void strip()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(FrontmatterParser::strip(text), expected);
    }

    void quote_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << u"Hello"_s << u"Hello"_s;
        QTest::newRow("inner spaces plain") << u"a b"_s << u"a b"_s;
        QTest::newRow("colon") << u"A: B"_s << u"\"A: B\""_s;
        QTest::newRow("hash") << u"#1"_s << u"\"#1\""_s;
        QTest::newRow("bracket") << u"[draft]"_s << u"\"[draft]\""_s;
        QTest::newRow("brace") << u"{x"_s << u"\"{x\""_s;
        QTest::newRow("leading space") << u" x"_s << u"\" x\""_s;
        QTest::newRow("trailing space") << u"x "_s << u"\"x \""_s;
        QTest::newRow("leading single quote") << u"'x"_s << u"\"'x\""_s;
        QTest::newRow("inner quote stays plain") << u"say \"hi\""_s << u"say \"hi\""_s;
        QTest::newRow("escapes backslash before quote") << u"\"a\\b\""_s << u"\"\\\"a\\\\b\\\"\""_s;
        QTest::newRow("empty") << QString() << u"\"\""_s;
        QTest::newRow("trailing bracket is plain") << u"x]"_s << u"x]"_s;
    }

    void quote()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(FrontmatterParser::quote(value), expected);
    }

    void serialize()
    {
        Frontmatter f;
        f.title = u"A: B"_s;
        f.tags = QStringList{u"x"_s, u"y z"_s};
        f.slug = u"not-listed"_s;
        f.description = u"  kept as stored "_s;
        QCOMPARE(FrontmatterParser::serialize(f, {u"tags"_s, u"title"_s, u"tags"_s}),
                 u"---\ntitle: \"A: B\"\ntags: [x, y z]\n---\n"_s);
        QCOMPARE(FrontmatterParser::serialize(f, {u"description"_s}),
                 u"---\ndescription: \"  kept as stored \"\n---\n"_s);
        // Fields with nothing to say are left out, and so is an empty block.
        f.title = QString();
        f.tags = QStringList();
        f.draft = false;
        QCOMPARE(FrontmatterParser::serialize(f, {u"title"_s, u"tags"_s, u"draft"_s}), QString());
        QCOMPARE(FrontmatterParser::serialize(Frontmatter(), {u"title"_s, u"tags"_s, u"draft"_s}), QString());

        // What serialize writes, extract reads back (for values without escapes).
        const auto all = Frontmatter::fromJson(
            QJsonDocument::fromJson(
                R"({"title":"Title","description":"Desc: long","slug":"slug","date":"2024-01-05","tags":["a","[b]"],)"
                R"("draft":true})")
                .object());
        const QStringList keys{u"title"_s, u"description"_s, u"slug"_s, u"date"_s, u"tags"_s, u"draft"_s};
        const auto back = FrontmatterParser::extract(FrontmatterParser::serialize(*all, keys) + u"\nBody"_s);
        QCOMPARE(back.frontmatter, *all);
        QCOMPARE(back.overrides, keys);
        QCOMPARE(back.body, u"\nBody"_s);
    }
};

QTEST_GUILESS_MAIN(TestFrontmatter)
#include "tst_frontmatter.moc"
