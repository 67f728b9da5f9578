#include "shell/core/DetailStatus.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace DetailStatus {

qsizetype readingMinutes(qsizetype words)
{
    const auto minutes = static_cast<qsizetype>(std::ceil(static_cast<double>(words) / 220.0));
    return std::max<qsizetype>(1, minutes);
}

QString wordsText(qsizetype words)
{
    return QString::number(words) + u" words"_s;
}

QString charactersText(qsizetype characters)
{
    return QString::number(characters) + u" characters"_s;
}

QString readingTimeText(qsizetype words)
{
    return QString::number(readingMinutes(words)) + u" min read"_s;
}

} // namespace DetailStatus
