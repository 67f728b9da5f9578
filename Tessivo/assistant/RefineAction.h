#pragma once

#include <QList>
#include <QString>

// One preset action of the AI menu. The menu filters the presets by the text
// typed in its field, matching label + " " + keywords, lower-cased.
struct RefineAction
{
    QString id;
    QString label;
    QString icon;
    QString keywords;

    // The fixed table of presets, in display order.
    static const QList<RefineAction> &presets();

    friend bool operator==(const RefineAction &, const RefineAction &) = default;
};
