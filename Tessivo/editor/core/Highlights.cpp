#include "editor/core/Highlights.h"

#include "editor/core/MarkdownScan.h"
#include "editor/core/ProseRewriter.h"

QString applyHighlights(const QString &line)
{
    return applyHighlights(line, ProseRewriter::codeSpanRanges(line));
}

QString applyHighlights(const QString &line, const QList<TextRange> &verbatim)
{
    if (!line.contains(QStringLiteral("=="))) {
        return line;
    }
    // Verbatim ranges are masked with "x" so that positions stay valid and
    // nothing inside them opens or closes a highlight.
    QString masked = line;
    for (const TextRange &r : verbatim) {
        masked.replace(r.location, r.length, QString(r.length, u'x'));
    }
    const QList<MarkdownScan::Pair> pairs =
        MarkdownScan::findPairs(masked, MarkdownScan::PairKind::Highlight);
    if (pairs.isEmpty()) {
        return line;
    }
    const QStringView view(line);
    QString out;
    out.reserve(line.size() + pairs.size() * 13);
    qsizetype copied = 0;
    for (const MarkdownScan::Pair &p : pairs) {
        out.append(view.mid(copied, p.start - copied));
        out.append(QStringLiteral("<mark>"));
        out.append(view.mid(p.start + 2, p.end - p.start - 4));
        out.append(QStringLiteral("</mark>"));
        copied = p.end;
    }
    out.append(view.mid(copied));
    return out;
}
