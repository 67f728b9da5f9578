#include "assistant/core/RefineAction.h"

#include "protocol/Rules.h"
#include "store/FuzzyFilter.h"

using protocol::ai::Preset;
using protocol::ai::presetId;

const QList<RefineAction> &RefineAction::presets()
{
    static const QList<RefineAction> table{
        {presetId(Preset::fixGrammar), QStringLiteral("Fix grammar"), IconName::checkDouble,
         QStringLiteral("spelling typo proofread")},
        {presetId(Preset::improve), QStringLiteral("Improve writing"), IconName::wand,
         QStringLiteral("polish clarity better")},
        {presetId(Preset::punchier), QStringLiteral("Make it punchier"), IconName::flame,
         QStringLiteral("bold strong energetic")},
        {presetId(Preset::condense), QStringLiteral("Condense"), IconName::shrink,
         QStringLiteral("shorten shorter summarize brief")},
        {presetId(Preset::rephrase), QStringLiteral("Rephrase / Mix it up"), IconName::refresh,
         QStringLiteral("reword rewrite alternative")},
        {presetId(Preset::expand), QStringLiteral("Expand & Elaborate"), IconName::lightBulb,
         QStringLiteral("longer more detail")},
        {presetId(Preset::structure), QStringLiteral("Improve structure & spacing"), IconName::textAlign,
         QStringLiteral("format layout paragraphs headings lists")},
        {presetId(Preset::positive), QStringLiteral("Rewrite in a positive tone"), IconName::chatBubble,
         QStringLiteral("upbeat friendly optimistic")},
        {presetId(Preset::thread), QStringLiteral("Rewrite as thread start"), IconName::expand,
         QStringLiteral("twitter x social tweet")},
        {presetId(Preset::emoji), QStringLiteral("Add emoji"), IconName::smile, QStringLiteral("emojis fun")},
        {presetId(Preset::announcement), QStringLiteral("Rewrite as announcement"), IconName::megaphone,
         QStringLiteral("launch release news")},
    };
    return table;
}

QList<RefineAction> RefineAction::filtered(const QString &query)
{
    return fuzzyFilter(presets(), query,
                       [](const RefineAction &action) { return action.label + u' ' + action.keywords; });
}
