#include "sidebar/core/RelativeTime.h"
#include "sidebar/core/SidebarFooter.h"

#include <QJsonObject>
#include <QTest>

// Row ages and what the footer's status and account rows say.
class TestSidebarTexts final : public QObject
{
    Q_OBJECT

private:
    static QDateTime base() { return QDateTime(QDate(2026, 3, 14), QTime(12, 0), Qt::UTC); }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_sidebartexts"));
    }

    void relativeTime_data()
    {
        QTest::addColumn<qint64>("ageSeconds");
        QTest::addColumn<QString>("expected");
        const qint64 m = 60, h = 3600, d = 86400;
        QTest::newRow("59 seconds") << qint64(59) << "just now";
        QTest::newRow("60 seconds") << m << "1m ago";
        QTest::newRow("59 minutes 59 seconds") << 59 * m + 59 << "59m ago";
        QTest::newRow("60 minutes") << h << "1h ago";
        QTest::newRow("23 hours 59 minutes") << 23 * h + 59 * m << "23h ago";
        QTest::newRow("24 hours") << d << "1d ago";
        QTest::newRow("6 days 23 hours 59 minutes") << 6 * d + 23 * h + 59 * m << "6d ago";
        QTest::newRow("7 days: month and day") << 7 * d << "Mar 7";
        QTest::newRow("more than a year: still no year") << 400 * d << "Feb 7";
        QTest::newRow("in the future: just now") << -5 * h << "just now";
    }

    void relativeTime()
    {
        QFETCH(qint64, ageSeconds);
        QFETCH(QString, expected);
        const QDateTime now = base();
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(relativeTimeString(now.addSecs(-ageSeconds), now, english), expected);
        QCOMPARE(relativeTimeString(now.addSecs(-ageSeconds).toMSecsSinceEpoch(), now, english), expected);
    }

    void namedRelativeDate_data()
    {
        QTest::addColumn<qint64>("ageSeconds");
        QTest::addColumn<QString>("expected");
        QTest::newRow("same moment") << qint64(0) << "now";
        QTest::newRow("seconds") << qint64(30) << "30 seconds ago";
        QTest::newRow("one minute") << qint64(60) << "1 minute ago";
        QTest::newRow("hours") << qint64(3 * 3600) << "3 hours ago";
        QTest::newRow("a day: named") << qint64(86400 + 60) << "yesterday";
        QTest::newRow("days") << qint64(3 * 86400) << "3 days ago";
        QTest::newRow("a week: named") << qint64(8 * 86400) << "last week";
        QTest::newRow("future") << qint64(-120) << "in 2 minutes";
    }

    void namedRelativeDate()
    {
        QFETCH(qint64, ageSeconds);
        QFETCH(QString, expected);
        QCOMPARE(relativeNamedDateString(base().addSecs(-ageSeconds), base()), expected);
    }

    void syncStatus_data()
    {
        QTest::addColumn<bool>("token");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pulses");
        QTest::addColumn<QString>("toolTip");
        using S = SyncEngine::Status;
        QTest::newRow("signed out: stays here, no tooltip")
            << false << int(S::synced) << int(IconName::cloudSlash) << "Documents stay on this computer"
            << false << "";
        QTest::newRow("syncing pulses") << true << int(S::syncing) << int(IconName::cloudUpload) << "Syncing…"
                                        << true << "Documents sync with example.test and the iOS app.";
        QTest::newRow("offline: the error is the tooltip")
            << true << int(S::offline) << int(IconName::cloudSlash) << "Offline, saved locally" << false
            << "Couldn't reach example.test. Check your connection.";
        QTest::newRow("synced: tooltip starts with Synced")
            << true << int(S::synced) << int(IconName::cloudCheck) << "Synced across devices" << false
            << "Synced 5 minutes ago";
        QTest::newRow("token but engine signed out")
            << true << int(S::signedOut) << int(IconName::cloudCheck) << "Synced across devices" << false
            << "Documents sync with example.test and the iOS app.";
    }

    void syncStatus()
    {
        QFETCH(bool, token);
        QFETCH(int, kind);
        QFETCH(int, icon);
        QFETCH(QString, text);
        QFETCH(bool, pulses);
        QFETCH(QString, toolTip);
        SyncEngine::Status status;
        status.kind = SyncEngine::Status::Kind(kind);
        status.message = QStringLiteral("Couldn't reach example.test. Check your connection.");
        status.at = base().addSecs(-300);
        const SidebarFooter::SyncStatus shown =
            SidebarFooter::syncStatus(token, status, base(), QStringLiteral("example.test"));
        QCOMPARE(shown.signedIn, token);
        QCOMPARE(int(shown.icon), icon);
        QCOMPARE(shown.text, text);
        QCOMPARE(shown.pulses, pulses);
        QCOMPARE(shown.toolTip, toolTip);
    }

    void account_data()
    {
        QTest::addColumn<bool>("token");
        QTest::addColumn<QJsonObject>("user"); // empty: no user record
        QTest::addColumn<bool>("showsUser");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("initial");
        QTest::addColumn<QUrl>("avatar");
        QTest::addColumn<QString>("toolTip");
        const QJsonObject ada{
            {"email", "ada@example.test"}, {"name", "Ada"}, {"image", "https://img.test/a.png"}};
        QTest::newRow("signed out") << false << ada << false << ""
                                    << "" << QUrl() << "Sign in to publish and sync";
        QTest::newRow("token, no user yet: Sign in label, account tooltip")
            << true << QJsonObject() << false << ""
            << "" << QUrl() << "Account and settings";
        QTest::newRow("signed in with name and picture")
            << true << ada << true << "Ada"
            << "A" << QUrl("https://img.test/a.png") << "Account and settings";
        QTest::newRow("empty name: shown by email, initial upper-cased")
            << true << QJsonObject{{"email", "zed@example.test"}, {"name", ""}} << true << "zed@example.test"
            << "Z" << QUrl() << "Account and settings";
        QTest::newRow("robustness: picture not on the web is not loaded")
            << true << QJsonObject{{"email", "e@x"}, {"image", "file:///etc/passwd"}} << true << "e@x"
            << "E" << QUrl() << "Account and settings";
        QTest::newRow("robustness: unparsable picture")
            << true << QJsonObject{{"email", "e@x"}, {"image", "ht tp://::"}} << true << "e@x"
            << "E" << QUrl() << "Account and settings";
        QTest::newRow("robustness: empty name and email") << true << QJsonObject{{"email", ""}} << true << ""
                                                          << "" << QUrl() << "Account and settings";
    }

    void account()
    {
        QFETCH(bool, token);
        QFETCH(QJsonObject, user);
        QFETCH(bool, showsUser);
        QFETCH(QString, name);
        QFETCH(QString, initial);
        QFETCH(QUrl, avatar);
        QFETCH(QString, toolTip);
        std::optional<MeResponse::User> record;
        if (!user.isEmpty()) {
            record =
                MeResponse::User{{}, user.value("email").toString(), user.value("name").toString(), {}, {}};
            if (user.contains("image"))
                record->image = user.value("image").toString();
        }
        const SidebarFooter::Account shown = SidebarFooter::account(token, record);
        QCOMPARE(shown.showsUser, showsUser);
        QCOMPARE(shown.displayName, name);
        QCOMPARE(shown.initial, initial);
        QCOMPARE(shown.avatarURL, avatar);
        QCOMPARE(shown.toolTip, toolTip);
    }
};

QTEST_GUILESS_MAIN(TestSidebarTexts)
#include "tst_sidebartexts.moc"
