#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// A range of UTF-16 code units in a text: where it starts and how long it is.
// Editor selections, the AI trigger and the media-library trigger use it.
struct TextRange
{
    qsizetype location = 0;
    qsizetype length = 0;

    // Spelled out so that TextRange(location, length) builds with clang 14
    // too, which lacks C++20's parenthesised aggregate initialisation.
    constexpr TextRange() = default;
    constexpr TextRange(qsizetype location_, qsizetype length_) : location(location_), length(length_) {}

    qsizetype end() const { return location + length; }
    bool contains(qsizetype position) const { return position >= location && position < end(); }
    // True when the range lies within a text of `size` code units.
    bool fitsIn(qsizetype size) const { return location >= 0 && length >= 0 && end() <= size; }

    friend bool operator==(const TextRange &, const TextRange &) = default;
};

// One change of a text: the code units of `range` replaced by `text`.
struct TextEdit
{
    TextRange range;
    QString text;
};

Q_DECLARE_METATYPE(TextRange)
