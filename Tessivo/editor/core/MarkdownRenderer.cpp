#include "editor/core/MarkdownRenderer.h"

#include "editor/core/Highlights.h"
#include "editor/core/LineClassifier.h"
#include "editor/core/MarkdownScan.h"
#include "editor/core/MathExtractor.h"
#include "editor/core/ProseRewriter.h"
#include "editor/core/WikiLinks.h"
#include "store/FrontmatterParser.h"
#include "store/Text.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

namespace MarkdownRenderer {

namespace {

constexpr int kOptions =
    CMARK_OPT_UNSAFE | CMARK_OPT_FOOTNOTES | CMARK_OPT_GITHUB_PRE_LANG | CMARK_OPT_VALIDATE_UTF8;
static_assert(kOptions == 0x22A00);

constexpr const char *kExtensions[] = {"table", "strikethrough", "autolink", "tasklist", "tagfilter"};

struct ParserFree
{
    void operator()(cmark_parser *p) const { cmark_parser_free(p); }
};
struct NodeFree
{
    void operator()(cmark_node *n) const { cmark_node_free(n); }
};
struct BufferFree
{
    void operator()(char *b) const { cmark_get_default_mem_allocator()->free(b); }
};

// Unpaired surrogates have no UTF-8 form; they show as U+FFFD, as invalid
// UTF-8 does, rather than as the "?" that the plain conversion writes.
QByteArray toUtf8(QStringView text)
{
    const auto lone = [text](qsizetype i) {
        const QChar c = text[i];
        if (c.isHighSurrogate()) {
            return i + 1 >= text.size() || !text[i + 1].isLowSurrogate();
        }
        return c.isLowSurrogate() && (i == 0 || !text[i - 1].isHighSurrogate());
    };
    // Most texts hold no surrogate at all: checked in blocks, which the
    // compiler vectorises, before the exact test.
    qsizetype i = 0;
    const char16_t *units = text.utf16();
    constexpr qsizetype block = 64;
    while (i + block <= text.size()) {
        // An unsigned accumulator: GCC does not vectorise the loop with a
        // bool one.
        unsigned any = 0;
        for (qsizetype k = 0; k < block; ++k) {
            any |= unsigned((units[i + k] & 0xF800) == 0xD800);
        }
        if (any != 0) {
            break;
        }
        i += block;
    }
    while (i < text.size() && !lone(i)) {
        ++i;
    }
    if (i == text.size()) {
        return text.toUtf8();
    }
    QString copy = text.toString();
    for (; i < copy.size(); ++i) {
        if (lone(i)) {
            copy[i] = QChar(QChar::ReplacementCharacter);
        }
    }
    return copy.toUtf8();
}

// `text` with a backslash inserted before each of the ascending `offsets`.
QString withBackslashesAt(const QString &text, const QList<qsizetype> &offsets)
{
    QString out;
    out.reserve(text.size() + offsets.size());
    qsizetype copied = 0;
    for (const qsizetype at : offsets) {
        out.append(QStringView(text).mid(copied, at - copied));
        out.append(u'\\');
        copied = at;
    }
    out.append(QStringView(text).mid(copied));
    return out;
}

// The table extension pads every row to the delimiter row's column count, so
// a wide delimiter row over many short lines makes output (and memory)
// quadratic in the input: 8 KB can become 20 MB of HTML. Real tables spend at
// least a character per cell, so when the cells a document could produce go
// beyond its length plus a margin, the offending delimiter rows are broken
// with a backslash and those tables show as plain text instead.
constexpr qsizetype kMaxPipesPerLine = 128;

// `lines`: the text's classification, or that of a text with the same lines
// (the prose rewrites keep every line break and every line's kind).
QString limitTableCells(const QString &text, const QList<LineClassifier::TextLine> &lines)
{
    if (!text.contains(u'|')) {
        return text;
    }
    const qsizetype budget = 200000 + text.size();
    const QStringView all(text);
    QList<QStringView> rows;
    rows.reserve(lines.size() + 1);
    for (qsizetype start = 0;;) {
        const qsizetype end = all.indexOf(u'\n', start);
        rows.append(all.mid(start, (end < 0 ? all.size() : end) - start));
        if (end < 0) {
            break;
        }
        start = end + 1;
    }
    const qsizetype count = rows.size();
    const bool known = lines.size() == count;

    const auto body = [](QStringView line) {
        qsizetype p = 0;
        while (p < line.size() && (line[p] == u' ' || line[p] == u'\t' || line[p] == u'>')) {
            ++p;
        }
        return line.mid(p);
    };
    // Index of the next blank line at or after a line; asked for rising
    // lines only, so the scan is linear overall.
    qsizetype blankFrom = -1;
    qsizetype blankAt = -1;
    const auto nextBlank = [&](qsizetype i) {
        if (blankAt < i) {
            blankFrom = std::max(blankFrom, i);
            blankAt = count;
            for (qsizetype k = blankFrom; k < count; ++k) {
                const QStringView rest = body(rows[k]);
                if (std::all_of(rest.begin(), rest.end(),
                                [](QChar c) { return MarkdownScan::isWhiteSpace(c); })) {
                    blankAt = k;
                    break;
                }
            }
            blankFrom = blankAt;
        }
        return blankAt;
    };

    QList<qsizetype> broken; // offsets of the "-" or "|" that gets a backslash, ascending
    qsizetype cells = 0;
    LineClassifier classifier;
    for (qsizetype i = 0; i < count; ++i) {
        const QStringView line = rows[i];
        const LineClassifier::Kind kind =
            known ? lines[i].info.kind : classifier.next(line.endsWith(u'\r') ? line.chopped(1) : line).kind;
        if (LineClassifier::isCode(kind)) {
            continue;
        }
        if (!line.contains(u'|')) {
            continue;
        }
        // The table extension splits a row in time quadratic in its cells
        // (a 40 KB row of pipes: seconds); a line with more pipes than any
        // real table row keeps them as text.
        if (line.count(u'|') > kMaxPipesPerLine) {
            for (qsizetype p = 0; p < line.size(); ++p) {
                if (line[p] == u'\\') {
                    ++p;
                } else if (line[p] == u'|') {
                    broken.append(line.data() - all.data() + p);
                }
            }
            continue;
        }
        const QStringView row = body(line);
        qsizetype columns = 0;
        bool inCell = false;
        bool shape = row.contains(u'|');
        for (qsizetype p = 0; shape && p < row.size(); ++p) {
            const QChar c = row[p];
            if (c == u'|') {
                inCell = false;
            } else if (c == u'-') {
                columns += inCell ? 0 : 1;
                inCell = true;
            } else if (c != u':' && c != u' ' && c != u'\t' && c != u'\r') {
                shape = false;
            }
        }
        if (!shape || columns == 0) {
            continue;
        }
        const qsizetype rowsBelow = nextBlank(i) - i;
        cells += columns * rowsBelow;
        if (cells > budget) {
            broken.append(row.data() - all.data() + row.indexOf(u'-'));
            cells -= columns * rowsBelow;
        }
    }
    if (broken.isEmpty()) {
        return text;
    }
    return withBackslashesAt(text, broken);
}

// Every link the library finds walks back over all the image openers ("![")
// still waiting in its paragraph, so "![[]()" repeated costs time quadratic
// in the paragraph (20,000 copies: over a second). Where a paragraph's openers
// times its links pass a bound, its openers are escaped: the images there
// show as text, and the render stays quick.
QString limitImageOpeners(const QString &text)
{
    constexpr qsizetype kBudget = 4000000;
    const qsizetype openers = MarkdownScan::countPairs(text, u'!', u'[');
    if (openers * (text.size() / 2) <= kBudget ||
        openers * MarkdownScan::countPairs(text, u']', u'(') <= kBudget) {
        return text;
    }
    const QStringView all(text);
    const QList<LineClassifier::TextLine> lines = LineClassifier::classify(all);
    QList<qsizetype> escapes; // offsets of the "[" that gets a backslash
    const qsizetype count = lines.size();
    for (qsizetype i = 0; i < count;) {
        if (lines[i].info.kind != LineClassifier::Kind::Prose) {
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        while (j < count && lines[j].info.kind == LineClassifier::Kind::Prose && !lines[j].info.startsBlock) {
            ++j;
        }
        const qsizetype start = lines[i].start;
        const qsizetype end = lines[j - 1].start + lines[j - 1].length;
        const QStringView block = all.mid(start, end - start);
        i = j;
        if (MarkdownScan::countPairs(block, u'!', u'[') * MarkdownScan::countPairs(block, u']', u'(') <=
            kBudget) {
            continue;
        }
        const QList<TextRange> verbatim = LineClassifier::verbatimRangesIn(all, start, end);
        qsizetype v = 0;
        for (qsizetype p = block.indexOf(u"!["); p >= 0; p = block.indexOf(u"![", p + 2)) {
            const qsizetype at = start + p + 1;
            while (v < verbatim.size() && verbatim[v].end() <= at) {
                ++v;
            }
            if (v < verbatim.size() && verbatim[v].location <= at) {
                continue;
            }
            escapes.append(at);
        }
    }
    if (escapes.isEmpty()) {
        return text;
    }
    return withBackslashesAt(text, escapes);
}

// Bytes that HTML escaping turns into entities, each up to six bytes long.
qsizetype escapedSize(const char *text)
{
    if (!text) {
        return 0;
    }
    qsizetype size = 0;
    for (const char *p = text; *p; ++p) {
        size += (*p == '&' || *p == '<' || *p == '>' || *p == '"') ? 6 : 1;
    }
    return size;
}

// An upper estimate, in bytes, of the HTML the library will write for the
// parsed `document` of `inputSize` bytes. Text, code and raw HTML come out at
// most six times their size (entities) with a few tags per node, and nodes
// are fewer than input bytes; the output can only grow far beyond that where
// the library copies text: a link reference's destination and title at every
// use, a footnote's back-references, the padding of short table rows. Only
// those are looked at, so the estimate costs little beside the render.
qsizetype estimatedHtmlSize(cmark_node *document, qsizetype inputSize)
{
    qsizetype size = 8 * inputSize;
    // A walk by hand: the library's iterator costs a sixth of the render.
    for (cmark_node *node = document; node;) {
        switch (cmark_node_get_type(node)) {
        case CMARK_NODE_LINK:
        case CMARK_NODE_IMAGE:
            // Destinations are percent-encoded: three bytes per byte at most.
            if (const char *url = cmark_node_get_url(node)) {
                size += 3 * qsizetype(strlen(url));
            }
            size += escapedSize(cmark_node_get_title(node));
            break;
        case CMARK_NODE_FOOTNOTE_REFERENCE:
            // The reference, and a back-reference in the note; both name
            // the label twice.
            size += 200 + 4 * escapedSize(cmark_node_get_literal(node));
            break;
        case CMARK_NODE_TEXT:
        case CMARK_NODE_CODE:
        case CMARK_NODE_HTML_INLINE:
        case CMARK_NODE_SOFTBREAK:
        case CMARK_NODE_PARAGRAPH:
            break;
        default:
            if (cmark_node_get_syntax_extension(node) &&
                qstrcmp(cmark_node_get_type_string(node), "table_row") == 0) {
                qsizetype cells = 0;
                for (cmark_node *c = cmark_node_first_child(node); c; c = cmark_node_next(c)) {
                    ++cells;
                }
                cmark_node *table = cmark_node_parent(node);
                const qsizetype columns = table ? cmark_gfm_extensions_get_table_columns(table) : 0;
                size += 24 * std::max<qsizetype>(0, columns - cells);
            }
            break;
        }
        if (cmark_node *child = cmark_node_first_child(node)) {
            node = child;
            continue;
        }
        while (node != document && !cmark_node_next(node)) {
            node = cmark_node_parent(node);
        }
        node = node == document ? nullptr : cmark_node_next(node);
    }
    return size;
}

// What the preview shows instead of a document whose HTML would be far
// larger than its text.
QString tooLargeHtml(const QString &body)
{
    return QStringLiteral("<p>This document is too large to preview.</p>\n<pre>") + body.toHtmlEscaped() +
           QStringLiteral("</pre>\n");
}

// The library's HTML for `markdown`, with the spans of `math` restored;
// empty when it fails, or with `*tooLarge` set when its estimate passes
// `budget` bytes (-1: no budget).
QString toHtml(const QString &markdown, const MathExtractor::Extracted &math, qsizetype budget,
               bool *tooLarge, const std::atomic<bool> *cancelled)
{
    // The library's registration is not guarded against concurrent first use;
    // after it, look-ups only read the registry.
    static std::once_flag registered;
    std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });

    const qsizetype nul = markdown.indexOf(QChar(u'\0'));
    const QByteArray utf8 = toUtf8(nul < 0 ? QStringView(markdown) : QStringView(markdown).left(nul));

    const std::unique_ptr<cmark_parser, ParserFree> parser(cmark_parser_new(kOptions));
    if (!parser) {
        return {};
    }
    for (const char *name : kExtensions) {
        if (cmark_syntax_extension *extension = cmark_find_syntax_extension(name)) {
            cmark_parser_attach_syntax_extension(parser.get(), extension);
        }
    }
    cmark_parser_feed(parser.get(), utf8.constData(), static_cast<size_t>(utf8.size()));
    std::unique_ptr<cmark_node, NodeFree> document;
    {
        // While it parses inlines, cmark_parser_finish adds the attached
        // extensions' trigger characters to a table shared by every parser
        // and takes them out again afterwards; a finish on another thread
        // would take "~" or "w" away mid-parse and lose strikethrough or
        // autolinks. Block parsing (feed) and rendering stay parallel.
        // A cancelled render leaves the queue for the lock within a few
        // milliseconds instead of holding up the renders behind it.
        static std::timed_mutex inlineTableLock;
        if (cancelled && cancelled->load()) {
            return {};
        }
        while (!inlineTableLock.try_lock_for(std::chrono::milliseconds(5))) {
            if (cancelled && cancelled->load()) {
                return {};
            }
        }
        const std::lock_guard<std::timed_mutex> lock(inlineTableLock, std::adopt_lock);
        document.reset(cmark_parser_finish(parser.get()));
    }
    if (!document || (cancelled && cancelled->load())) {
        return {};
    }
    if (budget >= 0 && estimatedHtmlSize(document.get(), utf8.size()) > budget) {
        *tooLarge = true;
        return {};
    }
    const std::unique_ptr<char, BufferFree> html(
        cmark_render_html(document.get(), kOptions, cmark_parser_get_syntax_extensions(parser.get())));
    if (!html) {
        return {};
    }
    // The math goes back in as the HTML is converted.
    return MathExtractor::restoreUtf8(QByteArrayView(html.get()), math.spans, math.delimiter);
}

} // namespace

QString render(const QString &body, const QHash<QString, QString> &titles)
{
    return render(body, titles, nullptr);
}

namespace {

// The wiki-link and highlight rewrites over classified lines. Each line is
// written straight into the result; the working strings are kept between
// lines, so a document with thousands of links makes few allocations.
QString rewriteProse(const QString &markdown, const QList<LineClassifier::TextLine> &lines,
                     const QHash<QString, QString> &titles)
{
    QString linked;
    QString scratch;
    QList<WikiLinks::Replacement> replaced;
    QList<TextRange> moved;
    const auto transform = [&](QString &out, QStringView line, const QList<TextRange> &verbatim) {
        if (MarkdownScan::indexOfPair(line, u'=', u'=') < 0) {
            WikiLinks::appendRendered(out, line, titles, verbatim, nullptr, scratch);
            return;
        }
        if (MarkdownScan::indexOfPair(line, u'[', u'[') < 0) {
            appendHighlights(out, line, verbatim, scratch);
            return;
        }
        linked.resize(0);
        replaced.clear();
        if (!WikiLinks::appendRendered(linked, line, titles, verbatim, &replaced, scratch)) {
            appendHighlights(out, line, verbatim, scratch);
            return;
        }
        // The verbatim ranges move with the anchors; those inside a link's
        // label went into its anchor.
        moved.clear();
        qsizetype delta = 0;
        qsizetype k = 0;
        for (const TextRange &r : verbatim) {
            while (k < replaced.size() && replaced[k].source.end() <= r.location) {
                delta += replaced[k].length - replaced[k].source.length;
                ++k;
            }
            if (k < replaced.size() && replaced[k].source.location <= r.location) {
                continue;
            }
            moved.append({r.location + delta, r.length});
        }
        appendHighlights(out, linked, moved, scratch);
    };
    return ProseRewriter::rewrite(markdown, lines, QList<QStringView>{u"[[", u"=="}, transform);
}

// The lines of `math.text` from the `lines` of the text the math pass read.
// A line no span joined to the next keeps its kind and only moves, since a
// span never starts before a line's content and a placeholder is ordinary
// text to the classifier. A line joined from several is classified from the
// classifier as it stood before the first of them (`snapshots`, taken
// around every line with "$$"), and so are the lines after it until the
// classifier is back in the state the original text had there. The one
// other change: a backtick fence whose info string lost a backtick to the
// math opens a fence now; there the text is classified anew.
QList<LineClassifier::TextLine> linesAfterMath(const MathExtractor::Extracted &math,
                                               const QList<LineClassifier::TextLine> &lines,
                                               const QList<LineClassifier::Snapshot> &snapshots)
{
    const QStringView text(math.text);
    QList<LineClassifier::TextLine> moved;
    moved.reserve(lines.size());
    qsizetype placeholder = text.indexOf(QChar(math.delimiter));
    qsizetype join = 0;
    qsizetype snapshot = 0;
    const auto snapshotOf = [&](qsizetype line) -> const LineClassifier::Snapshot * {
        while (snapshot < snapshots.size() && snapshots[snapshot].line < line) {
            ++snapshot;
        }
        return snapshot < snapshots.size() && snapshots[snapshot].line == line ? &snapshots[snapshot]
                                                                               : nullptr;
    };
    std::optional<LineClassifier> classifier; // set while the kinds differ from the original's
    qsizetype i = 0;                          // the original line this one starts with
    qsizetype start = 0;
    for (;;) {
        qsizetype end = text.indexOf(u'\n', start);
        const bool last = end < 0;
        if (last) {
            end = text.size();
        }
        qsizetype breaks = 0;
        while (join < math.joins.size() && math.joins[join].first < end) {
            breaks += math.joins[join].second;
            ++join;
        }
        const qsizetype k = i + breaks; // the original line this one ends with
        if (k >= lines.size() || last != (k == lines.size() - 1)) {
            return LineClassifier::classify(text);
        }
        if (placeholder >= 0 && placeholder < end) {
            if (text.mid(start, end - start).contains(u"```")) {
                return LineClassifier::classify(text);
            }
            placeholder = text.indexOf(QChar(math.delimiter), end);
        }
        QStringView line = text.mid(start, end - start);
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
        if (!classifier && breaks == 0) {
            moved.append({start, line.size(), lines[i].info});
        } else {
            if (!classifier) {
                const LineClassifier::Snapshot *before = snapshotOf(i);
                if (!before) {
                    return LineClassifier::classify(text);
                }
                classifier = before->before;
            }
            moved.append({start, line.size(), classifier->next(line)});
            const LineClassifier::Snapshot *after = snapshotOf(k);
            if (after && classifier->sameState(after->after)) {
                classifier.reset();
            }
        }
        if (last) {
            return moved;
        }
        i = k + 1;
        start = end + 1;
    }
}

} // namespace

QString rewriteProse(const QString &markdown, const QHash<QString, QString> &titles)
{
    if (MarkdownScan::indexOfPair(markdown, u'[', u'[') < 0 &&
        MarkdownScan::indexOfPair(markdown, u'=', u'=') < 0) {
        return markdown;
    }
    return rewriteProse(markdown, LineClassifier::classify(markdown), titles);
}

QString render(const QString &body, const QHash<QString, QString> &titles, const std::atomic<bool> *cancelled)
{
    const auto stopped = [cancelled] { return cancelled && cancelled->load(); };
    if (stopped()) {
        return {};
    }
    // One classification serves the math pass, the prose rewrites and the
    // table limit.
    const QString source = FrontmatterParser::strip(body);
    QList<LineClassifier::Snapshot> snapshots;
    QList<LineClassifier::TextLine> lines = LineClassifier::classify(source, u"$$", &snapshots);
    const MathExtractor::Extracted math = MathExtractor::extract(source, lines);
    if (!math.spans.isEmpty()) {
        lines = linesAfterMath(math, lines, snapshots);
    }
    if (stopped()) {
        return {};
    }
    const QString text = rewriteProse(math.text, lines, titles);
    if (stopped()) {
        return {};
    }
    // Forty times the text plus a megabyte is far beyond any real document,
    // and keeps the preview's memory and parse time within reason.
    const qsizetype budget = 40 * qsizetype(body.size()) + (qsizetype(1) << 20);
    bool tooLarge = false;
    QString html =
        toHtml(limitImageOpeners(limitTableCells(text, lines)), math, budget, &tooLarge, cancelled);
    if (tooLarge) {
        return tooLargeHtml(body);
    }
    if (html.isEmpty() || stopped()) {
        return {};
    }
    return html;
}

Stats stats(const QString &body)
{
    Stats result;
    bool inWord = false;
    const QStringView view(body);
    for (qsizetype i = 0; i < view.size(); ++i) {
        const QChar c = view[i];
        // White space lies in the BMP: one code unit decides, and a surrogate
        // pair is part of a word.
        const bool white = !c.isSurrogate() && Text::isWhitespaceOrNewline(c.unicode());
        if (!white && !inWord) {
            ++result.words;
        }
        inWord = !white;
    }
    result.characters = Text::characterCount(body);
    return result;
}

} // namespace MarkdownRenderer
