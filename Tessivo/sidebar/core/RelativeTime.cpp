#include "sidebar/core/RelativeTime.h"

namespace {

constexpr qint64 minutesPerHour = 60;
constexpr qint64 minutesPerDay = 1440;
constexpr qint64 minutesPerWeek = 10080;

QString plural(qint64 n, const char *unit)
{
    return QStringLiteral("%1 %2%3")
        .arg(n)
        .arg(QLatin1String(unit))
        .arg(n == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

QString relativeTimeString(const QDateTime &from, const QDateTime &now, const QLocale &locale)
{
    const double seconds = std::max(0.0, double(from.msecsTo(now)) / 1000.0);
    const auto minutes = static_cast<qint64>(seconds / 60.0);
    if (minutes < 1)
        return QStringLiteral("just now");
    if (minutes < minutesPerHour)
        return QStringLiteral("%1m ago").arg(minutes);
    if (minutes < minutesPerDay)
        return QStringLiteral("%1h ago").arg(minutes / minutesPerHour);
    if (minutes < minutesPerWeek)
        return QStringLiteral("%1d ago").arg(minutes / minutesPerDay);
    return locale.toString(from.toLocalTime().date(), QStringLiteral("MMM d"));
}

QString relativeTimeString(qint64 fromMsecsSinceEpoch, const QDateTime &now, const QLocale &locale)
{
    return relativeTimeString(QDateTime::fromMSecsSinceEpoch(fromMsecsSinceEpoch, Qt::UTC), now, locale);
}

QString relativeNamedDateString(const QDateTime &date, const QDateTime &now)
{
    const qint64 diff = date.secsTo(now); // positive: in the past
    const bool past = diff >= 0;
    const qint64 s = past ? diff : -diff;
    const auto phrase = [past](const QString &amount) {
        return past ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
    };
    if (s < 1)
        return QStringLiteral("now");
    if (s < 60)
        return phrase(plural(s, "second"));
    if (s < 3600)
        return phrase(plural(s / 60, "minute"));
    if (s < 86400)
        return phrase(plural(s / 3600, "hour"));
    const qint64 days = s / 86400;
    if (days == 1)
        return past ? QStringLiteral("yesterday") : QStringLiteral("tomorrow");
    if (days < 7)
        return phrase(plural(days, "day"));
    if (days < 30) {
        const qint64 weeks = days / 7;
        if (weeks == 1)
            return past ? QStringLiteral("last week") : QStringLiteral("next week");
        return phrase(plural(weeks, "week"));
    }
    if (days < 365) {
        const qint64 months = days / 30;
        if (months == 1)
            return past ? QStringLiteral("last month") : QStringLiteral("next month");
        return phrase(plural(months, "month"));
    }
    const qint64 years = days / 365;
    if (years == 1)
        return past ? QStringLiteral("last year") : QStringLiteral("next year");
    return phrase(plural(years, "year"));
}
