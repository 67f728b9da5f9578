#pragma once

#include <QMetaType>
#include <QtGlobal>

// A range of UTF-16 code units in a text: where it starts and how long it is.
// Editor selections, the AI trigger and the media-library trigger use it.
struct TextRange
{
    qsizetype location = 0;
    qsizetype length = 0;

    qsizetype end() const { return location + length; }
    bool contains(qsizetype position) const { return position >= location && position < end(); }
    // True when the range lies within a text of `size` code units.
    bool fitsIn(qsizetype size) const { return location >= 0 && length >= 0 && end() <= size; }

    friend bool operator==(const TextRange &, const TextRange &) = default;
};

Q_DECLARE_METATYPE(TextRange)
