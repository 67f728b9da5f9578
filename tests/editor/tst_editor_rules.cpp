// The editor's window-free decisions: Return on list lines, wiki-link
// queries, the completion panel's place, the AI selection rules, the exact
// text mirror, the completion list model and the reach of the spelling
// checker.
#include "editor/core/EditorRules.h"
#include "editor/core/EditorTextMirror.h"
#include "editor/core/SpellScope.h"
#include "editor/core/SuggestionModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using Kind = EditorRules::ReturnAction::Kind;

Q_DECLARE_METATYPE(Kind)

class TestEditorRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void returnAction_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("caret");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("insertion");
        QTest::addColumn<int>("removed");
        QTest::newRow("bullet") << u"- a"_s << 3 << Kind::Continue << u"\n- "_s << 0;
        QTest::newRow("indented star with tab") << u"\t* a"_s << 4 << Kind::Continue << u"\n\t* "_s << 0;
        QTest::newRow("number with period") << u"1. a"_s << 4 << Kind::Continue << u"\n2. "_s << 0;
        QTest::newRow("number with parenthesis") << u"  3) a"_s << 6 << Kind::Continue << u"\n  4) "_s << 0;
        QTest::newRow("leading zeros") << u"009. a"_s << 6 << Kind::Continue << u"\n10. "_s << 0;
        QTest::newRow("unchecked task") << u"- [ ] a"_s << 7 << Kind::Continue << u"\n- [ ] "_s << 0;
        QTest::newRow("checked task, capital X") << u"+ [X] a"_s << 7 << Kind::Continue << u"\n+ [ ] "_s << 0;
        QTest::newRow("empty bullet") << u"- "_s << 2 << Kind::EndList << QString() << 2;
        QTest::newRow("empty bullet with trailing blanks")
            << u"-   \t"_s << 5 << Kind::EndList << QString() << 5;
        QTest::newRow("empty task") << u"  - [x] "_s << 8 << Kind::EndList << QString() << 8;
        QTest::newRow("no blank after marker") << u"-a"_s << 2 << Kind::PlainNewline << QString() << 0;
        QTest::newRow("no blank after number") << u"1.a"_s << 3 << Kind::PlainNewline << QString() << 0;
        QTest::newRow("caret inside marker") << u"- a"_s << 1 << Kind::PlainNewline << QString() << 0;
        QTest::newRow("heading") << u"# a"_s << 3 << Kind::PlainNewline << QString() << 0;
        QTest::newRow("spacing normalised") << u"-    a"_s << 6 << Kind::Continue << u"\n- "_s << 0;
        QTest::newRow("largest 64-bit number repeats")
            << u"9223372036854775807. a"_s << 22 << Kind::Continue << u"\n9223372036854775807. "_s << 0;
        QTest::newRow("number beyond 64 bits repeats")
            << u"18446744073709551616. a"_s << 23 << Kind::Continue << u"\n18446744073709551616. "_s << 0;
        QTest::newRow("box without blank is text") << u"- [x]a"_s << 6 << Kind::Continue << u"\n- "_s << 0;
    }

    void returnAction()
    {
        QFETCH(QString, line);
        QFETCH(int, caret);
        QFETCH(Kind, kind);
        QFETCH(QString, insertion);
        QFETCH(int, removed);
        const EditorRules::ReturnAction action = EditorRules::returnAction(line, caret);
        QCOMPARE(action.kind, kind);
        QCOMPARE(action.insertion, insertion);
        QCOMPARE(action.removal, TextRange(0, removed));
    }

    void wikiLinkQuery_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<int>("location");
        QTest::addColumn<int>("length"); // -1: no query
        QTest::newRow("just opened") << u"[["_s << 2 << 0;
        QTest::newRow("typed query") << u"see [[My No"_s << 6 << 5;
        QTest::newRow("last of two") << u"[[a]] and [[b"_s << 12 << 1;
        QTest::newRow("closed") << u"[[a]"_s << 0 << -1;
        QTest::newRow("single bracket") << u"[a"_s << 0 << -1;
        QTest::newRow("nothing") << QString() << 0 << -1;
    }

    void wikiLinkQuery()
    {
        QFETCH(QString, prefix);
        QFETCH(int, location);
        QFETCH(int, length);
        const std::optional<TextRange> query = EditorRules::wikiLinkQuery(prefix);
        QCOMPARE(query.has_value(), length >= 0);
        if (query)
            QCOMPARE(*query, TextRange(location, length));
    }

    void suggestionPanelFrame_data()
    {
        QTest::addColumn<QPoint>("caret"); // a caret 18 high
        QTest::addColumn<int>("items");
        QTest::addColumn<QRect>("screen"); // null: none known
        QTest::addColumn<QRect>("expected");
        const QRect screen(0, 0, 1000, 800);
        QTest::newRow("below the caret") << QPoint(100, 100) << 1 << screen << QRect(92, 122, 320, 42);
        QTest::newRow("nine items: eight rows high")
            << QPoint(100, 100) << 9 << screen << QRect(92, 122, 320, 252);
        QTest::newRow("near the bottom: above the line")
            << QPoint(100, 700) << 3 << screen << QRect(92, 700 - 4 - 102, 320, 102);
        QTest::newRow("right edge: ends at the screen edge")
            << QPoint(990, 100) << 1 << screen << QRect(680, 122, 320, 42);
        QTest::newRow("left edge: starts at the screen edge")
            << QPoint(3, 100) << 1 << screen << QRect(0, 122, 320, 42);
        QTest::newRow("offset screen")
            << QPoint(1930, 100) << 1 << QRect(1920, 50, 800, 600) << QRect(1922, 122, 320, 42);
        QTest::newRow("no screen: anchor alone")
            << QPoint(-50, 5000) << 1 << QRect() << QRect(-58, 5022, 320, 42);
    }

    void suggestionPanelFrame()
    {
        QFETCH(QPoint, caret);
        QFETCH(int, items);
        QFETCH(QRect, screen);
        QFETCH(QRect, expected);
        const auto known = screen.isNull() ? std::nullopt : std::optional(screen);
        QCOMPARE(EditorRules::suggestionPanelFrame(QRect(caret, QSize(1, 18)), items, known), expected);
    }

    void aiSelectionRules()
    {
        const QString text = u"word\n  \t\nx"_s;
        QVERIFY(EditorRules::isRefinable(text, {0, 4}));
        QVERIFY(!EditorRules::isRefinable(text, {4, 4})); // breaks and blanks only
        QVERIFY(!EditorRules::isRefinable(text, {8, 5})); // past the end
        QVERIFY(!EditorRules::isRefinable(text, {0, 0}));
        QVERIFY(!EditorRules::isBlankLine(text, 2));
        QVERIFY(EditorRules::isBlankLine(text, 6));
        QVERIFY(EditorRules::isBlankLine(QString(), 0));
        QVERIFY(!EditorRules::isBlankLine(text, text.size()));
        QVERIFY(EditorRules::isBlankLine(u"text\u2028 "_s, 6));
    }

    void lineRange_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("position");
        QTest::addColumn<TextRange>("expected");
        QTest::newRow("CR LF is one break") << u"a\r\nbc\nd"_s << 4 << TextRange(3, 3);
        QTest::newRow("lone CR") << u"a\rbc"_s << 3 << TextRange(2, 2);
        QTest::newRow("line separator ends a line") << u"[[a\u2028b"_s << 5 << TextRange(4, 1);
        QTest::newRow("paragraph separator") << u"a\u2029bc"_s << 0 << TextRange(0, 2);
        QTest::newRow("next line character") << u"a\u0085b"_s << 2 << TextRange(2, 1);
        QTest::newRow("after a final break") << u"a\n"_s << 2 << TextRange(2, 0);
    }

    void lineRange()
    {
        QFETCH(QString, text);
        QFETCH(int, position);
        QFETCH(TextRange, expected);
        QCOMPARE(EditorRules::lineRange(text, position), expected);
    }

    void aiModeFromUserInfo_data()
    {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<int>("mode");
        using M = EditorRules::AIMode;
        QTest::newRow("refine") << QVariantMap{{u"mode"_s, u"refine"_s}} << int(M::Refine);
        QTest::newRow("generate") << QVariantMap{{u"mode"_s, u"generate"_s}} << int(M::Generate);
        QTest::newRow("auto") << QVariantMap{{u"mode"_s, u"auto"_s}} << int(M::Auto);
        QTest::newRow("unknown string") << QVariantMap{{u"mode"_s, u"Refine"_s}} << int(M::Auto);
        QTest::newRow("not a string") << QVariantMap{{u"mode"_s, 1}} << int(M::Auto);
        QTest::newRow("no user info") << QVariantMap() << int(M::Auto);
    }

    void aiModeFromUserInfo()
    {
        QFETCH(QVariantMap, info);
        QFETCH(int, mode);
        QCOMPARE(int(EditorRules::aiModeFromUserInfo(info)), mode);
    }

    void mirrorKeepsBreaks_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("position"); // display positions
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("inserted");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain text") << u"abc"_s << 1 << 1 << u"X"_s << u"aXc"_s;
        QTest::newRow("after CR LF") << u"a\r\nb"_s << 2 << 0 << u"X"_s << u"a\r\nXb"_s;
        QTest::newRow("before CR LF") << u"a\r\nb"_s << 1 << 0 << u"X"_s << u"aX\r\nb"_s;
        QTest::newRow("over CR LF") << u"a\r\nb"_s << 0 << 3 << u"Y"_s << u"Y"_s;
        QTest::newRow("CR LF text: a new break is CR LF")
            << u"a\r\nb"_s << 3 << 0 << u"\u2029c"_s << u"a\r\nb\r\nc"_s;
        QTest::newRow("CR text: a new break is CR") << u"a\rb"_s << 1 << 1 << u"\u2029"_s << u"a\rb"_s;
        QTest::newRow("mixed text: a new break is a line feed")
            << u"a\nb\r\nc"_s << 0 << 0 << u"\u2029"_s << u"\na\nb\r\nc"_s;
        QTest::newRow("second CR LF shifts") << u"a\r\nb\r\nc"_s << 0 << 1 << u"xyz"_s << u"xyz\r\nb\r\nc"_s;
        QTest::newRow("lone CR and separator") << u"a\rb\u2029c"_s << 4 << 1 << u"C"_s << u"a\rb\u2029C"_s;
        QTest::newRow("range past the end is clamped") << u"ab"_s << 1 << 5 << u"c"_s << u"ac"_s;
        QTest::newRow("line separator stays inside a line")
            << u"a\u2028b"_s << 3 << 0 << u"!"_s << u"a\u2028b!"_s;
    }

    void mirrorKeepsBreaks()
    {
        QFETCH(QString, body);
        QFETCH(int, position);
        QFETCH(int, removed);
        QFETCH(QString, inserted);
        QFETCH(QString, expected);
        EditorTextMirror mirror;
        const QString display = mirror.reset(body);
        for (QChar c : display)
            QVERIFY(c == u'\n' || !EditorTextMirror::isBlockBreak(c));
        QCOMPARE(mirror.documentLength(), display.size());
        mirror.apply(position, removed, inserted);
        QCOMPARE(mirror.body(), expected);
        QCOMPARE(mirror.documentLength(), mirror.documentText().size());
        // The same edit on a body that nothing else holds, edited in place.
        EditorTextMirror alone;
        alone.reset(QString(body.constData(), body.size()));
        alone.apply(position, removed, inserted);
        QCOMPARE(alone.body(), expected);
    }

    void mirrorMapsPositions()
    {
        EditorTextMirror mirror;
        QCOMPARE(mirror.reset(u"ab\r\ncd\r\ne"_s), u"ab\ncd\ne"_s);
        QCOMPARE(mirror.toBody(2), 2); // the break
        QCOMPARE(mirror.toBody(3), 4); // "c"
        QCOMPARE(mirror.toBody(6), 8); // "e"
        QCOMPARE(mirror.toDocument(4), 3);
        QCOMPARE(mirror.toDocument(3), 2); // between CR and LF: the break
        QCOMPARE(mirror.toDocument(9), 7);
        for (int p = 0; p <= 7; ++p)
            QCOMPARE(mirror.toDocument(mirror.toBody(p)), p);
    }

    void suggestionModel()
    {
        SuggestionModel model;
        QSignalSpy items(&model, &SuggestionModel::itemsChanged);
        QSignalSpy selection(&model, &SuggestionModel::selectionChanged);
        model.move(1); // empty: nothing
        QCOMPARE(model.selection(), 0);
        model.setItems({u"a"_s, u"b"_s, u"c"_s});
        model.setItems({u"a"_s, u"b"_s, u"c"_s});
        QCOMPARE(items.count(), 1);
        model.move(-1);
        QCOMPARE(model.selection(), 2); // up from the first wraps to the last
        model.move(+1);
        QCOMPARE(model.selection(), 0); // down from the last wraps to the first
        model.setSelection(0);
        QCOMPARE(selection.count(), 2);
    }

    void spellScope_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("checked");
        QTest::newRow("prose words") << QStringList{u"Helo wrld, it's me"_s}
                                     << QStringList{u"Helo"_s, u"wrld"_s, u"it's"_s, u"me"_s};
        QTest::newRow("inline code skipped")
            << QStringList{u"use `fooo barr` now"_s} << QStringList{u"use"_s, u"now"_s};
        QTest::newRow("unclosed code runs to the end") << QStringList{u"a `xyz abc"_s} << QStringList{};
        QTest::newRow("addresses skipped")
            << QStringList{u"go https://exmple.com/pth or www.foo.org, mail me@exmple.com"_s}
            << QStringList{u"go"_s, u"or"_s, u"mail"_s};
        QTest::newRow("link destination skipped, text checked")
            << QStringList{u"[some txt](docs/pagge.md)"_s} << QStringList{u"some"_s, u"txt"_s};
        QTest::newRow("html tags skipped")
            << QStringList{u"<span clss=\"x\">word</span>"_s} << QStringList{u"word"_s};
        QTest::newRow("fenced block skipped")
            << QStringList{u"before"_s, u"```pythn"_s, u"inside blok"_s, u"```"_s, u"after"_s}
            << QStringList{u"before"_s, u"after"_s};
        QTest::newRow("tilde fence needs its own close")
            << QStringList{u"~~~~"_s, u"```"_s, u"still code"_s, u"~~~~"_s, u"out"_s}
            << QStringList{u"out"_s};
        QTest::newRow("front matter keys skipped, values checked")
            << QStringList{u"---"_s, u"titel: My Nots"_s, u"tagz:"_s, u"---"_s, u"body"_s}
            << QStringList{u"My"_s, u"Nots"_s, u"body"_s};
        QTest::newRow("rule later is not front matter")
            << QStringList{u"text"_s, u"---"_s, u"key: val"_s} << QStringList{u"text"_s, u"key"_s, u"val"_s};
        QTest::newRow("words with digits or underscores skipped")
            << QStringList{u"abc1 snake_case x2y ok"_s} << QStringList{u"ok"_s};
    }

    void spellScope()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, checked);
        SpellScope::Context context;
        QStringList found;
        for (const QString &line : lines) {
            for (const TextRange &w : SpellScope::wordsToCheck(line, context))
                found.append(line.mid(w.location, w.length));
        }
        QCOMPARE(found, checked);
    }

    void spellScopeSkipKeepsContext()
    {
        SpellScope::Context context;
        SpellScope::skipLine(u"```"_s, context);
        QVERIFY(SpellScope::wordsToCheck(u"code here"_s, context).isEmpty());
        SpellScope::skipLine(u"```"_s, context);
        QCOMPARE(SpellScope::wordsToCheck(u"prose"_s, context).size(), 1);
        QCOMPARE(SpellScope::wordAt(u"one two"_s, 7), TextRange(4, 3));
        QVERIFY(!SpellScope::wordAt(u"one  two"_s, 4));
    }
};

QTEST_GUILESS_MAIN(TestEditorRules)
#include "tst_editor_rules.moc"
