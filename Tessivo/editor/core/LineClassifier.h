#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include "store/TextRange.h"

// The block structure of a Markdown text, line by line, as cmark-gfm sees it
// closely enough for the passes that must leave code alone: which lines are
// fenced or indented code, which hold inline content, where blockquote
// markers and list markers end. Every pass (math, prose rewrites, spell
// checking, the editor's colouring) asks this one classifier, so that they
// agree on where code is. Lines are cut at LF; a CR before the LF is not part
// of the line. Pure and linear in the text.
class LineClassifier
{
public:
    enum class Kind : quint8 {
        Blank,
        Prose,           // inline content: paragraph, heading or list item text
        SetextUnderline, // a line of "=" (or "-" under a paragraph): never prose
        FenceOpen,
        FenceBody,
        FenceClose,
        IndentedCode,
        HtmlComment, // a line of an HTML block opened by "<!--"
    };

    struct Line
    {
        Kind kind = Kind::Blank;
        qsizetype quotePrefix = 0;  // length of the blockquote markers
        qsizetype contentStart = 0; // where the inline content begins (prose lines)
        bool startsBlock = true;    // a prose line that does not continue a paragraph
    };

    // Classifies the next line (without its line break).
    Line next(QStringView line);

    static bool isCode(Kind kind)
    {
        return kind == Kind::FenceOpen || kind == Kind::FenceBody || kind == Kind::FenceClose ||
               kind == Kind::IndentedCode;
    }

    // A line of a whole text: where it lies, without its LF and without a CR
    // before the LF.
    struct TextLine
    {
        qsizetype start = 0;
        qsizetype length = 0;
        Line info;
    };
    static QList<TextLine> classify(QStringView text);

    // The classifier as it stood before and after one line.
    struct Snapshot;
    // classify(), also keeping in `snapshots` (in line order) the classifier
    // around each line that holds `marker`, so that a pass which rewrites
    // those lines can classify its result from there without starting over.
    static QList<TextLine> classify(QStringView text, QStringView marker, QList<Snapshot> *snapshots);

    // Whether two classifiers would classify every further line alike.
    bool sameState(const LineClassifier &other) const;

    // Ranges of [start, end) of `text`, the inline content of one paragraph,
    // heading or line, that inline rewrites and math must leave as written:
    // inline code spans (which may run over several lines of a paragraph),
    // HTML tags and comments, and link destinations. In text order, not
    // overlapping.
    static QList<TextRange> verbatimRangesIn(QStringView text, qsizetype start, qsizetype end);

    // --- Line rules, exposed for the passes that scan one line ----------------

    // Width of the leading spaces and tabs: a space counts 1, a tab advances
    // to the next multiple of 4.
    static qsizetype indentWidth(QStringView s);
    // Length of the leading blockquote markers ("(?: {0,3}> ?)*").
    static qsizetype quotePrefixLength(QStringView line);

    // A fence marker at the start of `s` after up to `maxIndent` columns of
    // spaces and tabs: three or more backticks or tildes.
    struct Fence
    {
        char16_t character = 0;
        qsizetype length = 0; // 0: no fence
        QStringView rest;     // what follows the marker
    };
    static Fence fenceAt(QStringView s, qsizetype maxIndent);

    // A list item marker at the start of `content` (after the blockquote
    // markers): "-", "*", "+" or 1 to 9 digits and "." or ")", then spaces or
    // tabs, then something. `contentOffset` is where the item's text begins;
    // `contentColumn` is the column later lines need to belong to the item.
    // `codeContent` when the text is indented code (five or more columns
    // after the marker).
    struct ListItem
    {
        qsizetype contentOffset = -1; // -1: not a list item
        qsizetype contentColumn = 0;
        bool codeContent = false;
    };
    static ListItem listItemAt(QStringView content);

private:
    Line classifyOpenBlock(QStringView line, qsizetype q, QStringView content);

    Fence m_fence;               // length 0: no fenced block open
    qsizetype m_fenceDepth = 0;  // blockquote depth of the open fence
    qsizetype m_fenceColumn = 0; // list content column of the open fence
    bool m_htmlComment = false;  // inside an HTML comment block
    bool m_paragraph = false;    // a paragraph is open (lazy lines continue it)
    bool m_indentedCode = false; // the previous non-blank line was indented code
    qsizetype m_listContent = 0; // content column of the current list item
    qsizetype m_listBase = 0;    // the same, kept across indented code
};

struct LineClassifier::Snapshot
{
    qsizetype line = 0;
    LineClassifier before;
    LineClassifier after;
};
