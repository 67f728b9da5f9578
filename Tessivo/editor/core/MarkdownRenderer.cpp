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
#include <memory>
#include <mutex>

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
    qsizetype i = 0;
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

// The table extension pads every row to the delimiter row's column count, so
// a wide delimiter row over many short lines makes output (and memory)
// quadratic in the input: 8 KB can become 20 MB of HTML. Real tables spend at
// least a character per cell, so when the cells a document could produce go
// beyond its length plus a margin, the offending delimiter rows are broken
// with a backslash and those tables show as plain text instead.
QString limitTableCells(const QString &text)
{
    if (!text.contains(u'|')) {
        return text;
    }
    const qsizetype budget = 200000 + text.size();
    const QStringView all(text);
    const QList<QStringView> lines = Text::splitLinesLF(all);
    const qsizetype count = lines.size();

    const auto body = [](QStringView line) {
        qsizetype p = 0;
        while (p < line.size() && (line[p] == u' ' || line[p] == u'\t' || line[p] == u'>')) {
            ++p;
        }
        return line.mid(p);
    };
    // Index of the next blank line at or after each line.
    QList<qsizetype> nextBlank(count + 1, count);
    for (qsizetype i = count - 1; i >= 0; --i) {
        const QStringView rest = body(lines[i]);
        const bool blank =
            std::all_of(rest.begin(), rest.end(), [](QChar c) { return MarkdownScan::isWhiteSpace(c); });
        nextBlank[i] = blank ? i : nextBlank[i + 1];
    }

    QList<qsizetype> broken; // offsets of the "-" that gets a backslash
    qsizetype cells = 0;
    LineClassifier classifier;
    for (qsizetype i = 0; i < count; ++i) {
        const QStringView line = lines[i];
        if (LineClassifier::isCode(classifier.next(line.endsWith(u'\r') ? line.chopped(1) : line).kind)) {
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
        cells += columns * (nextBlank[i] - i);
        if (cells > budget) {
            broken.append(row.data() - all.data() + row.indexOf(u'-'));
            cells -= columns * (nextBlank[i] - i);
        }
    }
    if (broken.isEmpty()) {
        return text;
    }
    QString out = text;
    for (qsizetype k = broken.size() - 1; k >= 0; --k) {
        out.insert(broken[k], u'\\');
    }
    return out;
}

} // namespace

QString markdownToHtml(const QString &markdown)
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
        static std::mutex inlineTableLock;
        const std::lock_guard<std::mutex> lock(inlineTableLock);
        document.reset(cmark_parser_finish(parser.get()));
    }
    if (!document) {
        return {};
    }
    const std::unique_ptr<char, BufferFree> html(
        cmark_render_html(document.get(), kOptions, cmark_parser_get_syntax_extensions(parser.get())));
    if (!html) {
        return {};
    }
    return QString::fromUtf8(html.get());
}

QString render(const QString &body, const QHash<QString, QString> &titles)
{
    const MathExtractor::Extracted math = MathExtractor::extract(FrontmatterParser::strip(body));
    QString text = ProseRewriter::rewrite(math.text, u"[[",
                                          [&titles](const QString &line, const QList<TextRange> &verbatim) {
                                              return WikiLinks::render(line, titles, verbatim);
                                          });
    text = ProseRewriter::rewrite(text, u"==", [](const QString &line, const QList<TextRange> &verbatim) {
        return applyHighlights(line, verbatim);
    });
    const QString html = markdownToHtml(limitTableCells(text));
    if (html.isEmpty()) {
        return html;
    }
    return MathExtractor::restore(html, math.spans, math.delimiter);
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
