#pragma once

#include <QString>

// The texts of the detail pane's status bar.
namespace DetailStatus {

// Whole minutes at 220 words a minute, rounded up, never less than one.
qsizetype readingMinutes(qsizetype words);

QString wordsText(qsizetype words);
QString charactersText(qsizetype characters);
QString readingTimeText(qsizetype words);

} // namespace DetailStatus
