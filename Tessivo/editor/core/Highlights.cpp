#include "editor/core/Highlights.h"

#include "editor/core/MarkdownScan.h"
#include "editor/core/ProseRewriter.h"

#include <algorithm>

QString applyHighlights(const QString &line)
{
    return applyHighlights(line, ProseRewriter::codeSpanRanges(line));
}

QString applyHighlights(const QString &line, const QList<TextRange> &verbatim)
{
    if (!line.contains(QStringLiteral("=="))) {
        return line;
    }
    QString out;
    QString scratch;
    appendHighlights(out, line, verbatim, scratch);
    return out;
}

void appendHighlights(QString &out, QStringView line, const QList<TextRange> &verbatim, QString &scratch)
{
    if (MarkdownScan::indexOfPair(line, u'=', u'=') < 0) {
        out.append(line);
        return;
    }
    // Verbatim ranges are masked with "x" so that positions stay valid and
    // nothing inside them opens or closes a highlight.
    QStringView masked = line;
    if (!verbatim.isEmpty()) {
        scratch.resize(line.size());
        std::copy(line.cbegin(), line.cend(), scratch.begin());
        for (const TextRange &r : verbatim) {
            std::fill_n(scratch.begin() + r.location, r.length, u'x');
        }
        masked = scratch;
    }
    const QList<MarkdownScan::Pair> pairs =
        MarkdownScan::findPairs(masked, MarkdownScan::PairKind::Highlight);
    qsizetype copied = 0;
    for (const MarkdownScan::Pair &p : pairs) {
        out.append(line.mid(copied, p.start - copied));
        out.append(u"<mark>");
        out.append(line.mid(p.start + 2, p.end - p.start - 4));
        out.append(u"</mark>");
        copied = p.end;
    }
    out.append(line.mid(copied));
}
