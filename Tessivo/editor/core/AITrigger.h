#pragma once

#include "store/TextRange.h"

// What the AI menu was opened for: rewriting a selected range, or writing new
// text at a position (UTF-16 offsets into the editor's text).
struct AITrigger
{
    enum class Kind { Refine, Generate };

    Kind kind = Kind::Generate;
    TextRange range;        // refine: the range to rewrite
    qsizetype location = 0; // generate: where to write

    static AITrigger refine(TextRange selection) { return {Kind::Refine, selection, selection.location}; }
    static AITrigger generate(qsizetype at) { return {Kind::Generate, TextRange{at, 0}, at}; }

    friend bool operator==(const AITrigger &, const AITrigger &) = default;
};
