#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Short ages for document rows: "just now", "5m ago", "3h ago", "2d ago",
// then the abbreviated month and day (no year) from seven days on. A change
// in the future counts as now.
QString relativeTimeString(const QDateTime &from, const QDateTime &now, const QLocale &locale = QLocale());

// The same for a record timestamp in milliseconds since 1970-01-01 UTC.
QString relativeTimeString(qint64 fromMsecsSinceEpoch, const QDateTime &now,
                           const QLocale &locale = QLocale());

// A spelt-out relative date with named days: "now", "5 minutes ago",
// "yesterday", "last week", "3 months ago", "in 2 hours", "tomorrow".
QString relativeNamedDateString(const QDateTime &date, const QDateTime &now);
