#include "editor/core/ProseRewriter.h"

#include "editor/core/LineClassifier.h"
#include "editor/core/MarkdownScan.h"

#include <algorithm>

using MarkdownScan::BacktickRuns;

namespace ProseRewriter {

QList<TextRange> codeSpanRanges(QStringView line)
{
    QList<TextRange> ranges;
    qsizetype i = line.indexOf(u'`');
    if (i < 0) {
        return ranges;
    }
    const BacktickRuns runs(line);
    const qsizetype n = line.size();
    while (i >= 0 && i < n) {
        qsizetype runEnd = i;
        while (runEnd < n && line[runEnd] == u'`') {
            ++runEnd;
        }
        if (runEnd == n) {
            break;
        }
        const qsizetype close = runs.next(runEnd - i, runEnd);
        if (close >= 0) {
            const qsizetype end = close + (runEnd - i);
            ranges.append({i, end - i});
            i = line.indexOf(u'`', end);
        } else {
            i = line.indexOf(u'`', runEnd);
        }
    }
    return ranges;
}

QString rewrite(const QString &text, QStringView trigger, const Transform &transform)
{
    return rewrite(text, QList<QStringView>{trigger}, transform);
}

QString rewrite(const QString &text, const QList<QStringView> &triggers, const Transform &transform)
{
    if (std::none_of(triggers.cbegin(), triggers.cend(),
                     [&text](QStringView t) { return !t.isEmpty() && text.contains(t); })) {
        return text;
    }
    return rewrite(text, LineClassifier::classify(text), triggers,
                   [&transform](QString &out, QStringView line, const QList<TextRange> &verbatim) {
                       out.append(transform(line.toString(), verbatim));
                   });
}

namespace {

// The next occurrence of `trigger` at or after `from`, or -1: the first
// character is found by the library's vectorised search, the rest compared.
qsizetype nextOccurrence(QStringView all, QStringView trigger, qsizetype from)
{
    const QChar first = trigger.front();
    const QStringView rest = trigger.mid(1);
    for (qsizetype at = all.indexOf(first, from); at >= 0; at = all.indexOf(first, at + 1)) {
        if (all.mid(at + 1, rest.size()) == rest) {
            return at;
        }
    }
    return -1;
}

} // namespace

QString rewrite(const QString &text, const QList<LineClassifier::TextLine> &lines,
                const QList<QStringView> &triggers, const AppendingTransform &transform)
{
    const QStringView all(text);
    // The next occurrence of each trigger; found in one forward scan each
    // over the whole text.
    QList<qsizetype> next;
    bool any = false;
    for (const QStringView trigger : triggers) {
        next.append(trigger.isEmpty() ? -1 : nextOccurrence(all, trigger, 0));
        any = any || next.back() >= 0;
    }
    if (!any) {
        return text;
    }
    const auto hasTrigger = [&](qsizetype from, qsizetype to) {
        bool found = false;
        for (qsizetype k = 0; k < triggers.size(); ++k) {
            if (next[k] >= 0 && next[k] < from) {
                next[k] = nextOccurrence(all, triggers[k], from);
            }
            found = found || (next[k] >= 0 && next[k] + triggers[k].size() <= to);
        }
        return found;
    };
    QString out;
    out.reserve(text.size() + text.size() / 8);

    // Verbatim ranges are found per paragraph, and only for paragraphs that
    // hold a trigger.
    QList<TextRange> verbatim;
    QList<TextRange> local;
    qsizetype copied = 0;
    const qsizetype count = lines.size();
    for (qsizetype i = 0; i < count; ++i) {
        const LineClassifier::TextLine &l = lines[i];
        if (l.info.kind != LineClassifier::Kind::Prose) {
            continue;
        }
        if (l.info.startsBlock) {
            qsizetype j = i + 1;
            while (j < count && lines[j].info.kind == LineClassifier::Kind::Prose &&
                   !lines[j].info.startsBlock) {
                ++j;
            }
            const qsizetype blockEnd = lines[j - 1].start + lines[j - 1].length;
            verbatim.clear();
            if (hasTrigger(l.start, blockEnd)) {
                verbatim = LineClassifier::verbatimRangesIn(all, l.start, blockEnd);
            }
        }
        if (!hasTrigger(l.start, l.start + l.length)) {
            continue;
        }
        const QStringView line = all.mid(l.start, l.length);
        local.clear();
        for (const TextRange &r : std::as_const(verbatim)) {
            const qsizetype from = std::max(r.location, l.start);
            const qsizetype to = std::min(r.end(), l.start + l.length);
            if (from < to) {
                local.append({from - l.start, to - from});
            }
        }
        out.append(all.mid(copied, l.start - copied));
        transform(out, line, local);
        copied = l.start + l.length;
    }
    if (copied == 0) {
        return text;
    }
    out.append(all.mid(copied));
    return out;
}

} // namespace ProseRewriter
