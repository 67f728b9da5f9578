#include "assistant/core/RefineAction.h"

#include "store/FuzzyFilter.h"

const QList<RefineAction> &RefineAction::presets()
{
    static const QList<RefineAction> table{
        {QStringLiteral("fix-grammar"), QStringLiteral("Fix grammar"), IconName::checkDouble,
         QStringLiteral("spelling typo proofread")},
        {QStringLiteral("improve"), QStringLiteral("Improve writing"), IconName::wand,
         QStringLiteral("polish clarity better")},
        {QStringLiteral("punchier"), QStringLiteral("Make it punchier"), IconName::flame,
         QStringLiteral("bold strong energetic")},
        {QStringLiteral("condense"), QStringLiteral("Condense"), IconName::shrink,
         QStringLiteral("shorten shorter summarize brief")},
        {QStringLiteral("rephrase"), QStringLiteral("Rephrase / Mix it up"), IconName::refresh,
         QStringLiteral("reword rewrite alternative")},
        {QStringLiteral("expand"), QStringLiteral("Expand & Elaborate"), IconName::lightBulb,
         QStringLiteral("longer more detail")},
        {QStringLiteral("structure"), QStringLiteral("Improve structure & spacing"), IconName::textAlign,
         QStringLiteral("format layout paragraphs headings lists")},
        {QStringLiteral("positive"), QStringLiteral("Rewrite in a positive tone"), IconName::chatBubble,
         QStringLiteral("upbeat friendly optimistic")},
        {QStringLiteral("thread"), QStringLiteral("Rewrite as thread start"), IconName::expand,
         QStringLiteral("twitter x social tweet")},
        {QStringLiteral("emoji"), QStringLiteral("Add emoji"), IconName::smile, QStringLiteral("emojis fun")},
        {QStringLiteral("announcement"), QStringLiteral("Rewrite as announcement"), IconName::megaphone,
         QStringLiteral("launch release news")},
    };
    return table;
}

QList<RefineAction> RefineAction::filtered(const QString &query)
{
    return fuzzyFilter(presets(), query,
                       [](const RefineAction &action) { return action.label + u' ' + action.keywords; });
}
