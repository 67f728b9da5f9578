#pragma once

#include "app/core/IconName.h"

#include <QList>
#include <QString>

// One ready-made rewrite of the AI menu. Its id is what the service gets as
// the refine action; label and keywords are only shown and matched.
struct RefineAction
{
    QString id;
    QString label;
    IconName icon = IconName::sparkles;
    QString keywords; // extra words the filter matches, never shown

    // The fixed table of presets, in display order.
    static const QList<RefineAction> &presets();

    // The presets matching `query` (label and keywords, lower-cased), best
    // first; a query of only spaces and tabs keeps them all in table order.
    static QList<RefineAction> filtered(const QString &query);

    friend bool operator==(const RefineAction &, const RefineAction &) = default;
};
