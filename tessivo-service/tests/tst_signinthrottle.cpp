// The order in which a paced account's checks go to the clients asking.
#include "SignInThrottle.h"

#include <QTest>

using namespace tessivo::server;
using namespace Qt::StringLiterals;

namespace {
constexpr qint64 second = 1000;
constexpr qint64 minute = 60 * second;

// What a client is told to wait, in the whole seconds of Retry-After.
qint64 retryAfter(qint64 waitMs)
{
    return (waitMs + 999) / 1000 * 1000;
}
} // namespace

class tst_SignInThrottle : public QObject
{
    Q_OBJECT

private slots:
    // 300 addresses in four groups guess at one account, asking as often as
    // their own limit lets them or coming back when told; its owner, asking
    // from a fifth group, comes back when told and gets in within two
    // minutes, while the password is checked at most twelve times in any
    // two minutes.
    void ownerFromAnotherGroupGetsIn_data()
    {
        QTest::addColumn<QString>("address"); // %1 the group, %2 the client in it
        QTest::addColumn<qint64>("pollMs");   // 0: come back when told
        const QString v4 = u"10.0.%1.%2"_s, v6 = u"2001:db8:%1:%2::1"_s;
        QTest::newRow("IPv4, come back when told") << v4 << qint64(0);
        QTest::newRow("IPv4, poll every minute") << v4 << minute;
        QTest::newRow("IPv4, poll every 5 s") << v4 << 5 * second;
        QTest::newRow("IPv6 /64s, come back when told") << v6 << qint64(0);
        QTest::newRow("IPv6 /64s, poll every minute") << v6 << minute;
    }

    void ownerFromAnotherGroupGetsIn()
    {
        QFETCH(QString, address);
        QFETCH(qint64, pollMs);
        QList<QHostAddress> guessers;
        for (int i = 0; i < 300; ++i)
            guessers.append(QHostAddress(address.arg(1 + i % 4).arg(1 + i / 4)));
        const qint64 waited = ownerWait(guessers, QHostAddress(address.arg(99).arg(1)), pollMs);
        if (!QTest::currentTestFailed())
            QVERIFY(waited <= 2 * minute);
    }

    // 100 neighbouring groups of one network guess, from two peers each,
    // coming back when told; the owner, asking from another network, gets
    // in within a minute: the turns go between networks first.
    void ownerFromAnotherNetworkGetsIn_data()
    {
        QTest::addColumn<QString>("address"); // %1 the group, %2 the client in it
        QTest::addColumn<QString>("owner");
        QTest::newRow("IPv4 /24s of a /16") << u"10.1.%1.%2"_s << u"10.2.0.1"_s;
        QTest::newRow("IPv6 /48s of a /32") << u"2001:db8:%1::%2"_s << u"2001:db9:1::1"_s;
    }

    void ownerFromAnotherNetworkGetsIn()
    {
        QFETCH(QString, address);
        QFETCH(QString, owner);
        QList<QHostAddress> guessers;
        for (int i = 0; i < 200; ++i)
            guessers.append(QHostAddress(address.arg(1 + i % 100).arg(1 + i / 100)));
        const qint64 waited = ownerWait(guessers, QHostAddress(owner), 0);
        if (!QTest::currentTestFailed())
            QVERIFY(waited <= minute);
    }

private:
    // The guessers ask as often as their own limit lets them (every
    // `pollMs`) or come back when told (0); the owner asks from `owner`
    // once the account is paced and comes back when told. How long the
    // owner waited. The test fails when the password was checked more
    // than twelve times in two minutes, or the owner isn't in after five.
    static qint64 ownerWait(const QList<QHostAddress> &addresses, const QHostAddress &owner, qint64 pollMs)
    {
        SignInThrottle throttle{ServiceLimits()};
        const QString email = u"ann@example.com"_s;
        qint64 clock = 1'000'000'000;
        struct Client
        {
            QHostAddress address;
            qint64 next;
        };
        QList<Client> guessers;
        for (qsizetype i = 0; i < addresses.size(); ++i)
            guessers.append({addresses[i], clock + i * 200});
        const qint64 ownerFirst = clock + minute; // the account is paced by then
        qint64 ownerNext = ownerFirst, ownerIn = -1;
        QList<qint64> checks; // wrong passwords checked
        while (ownerIn < 0 && clock < ownerFirst + 5 * minute) {
            const auto next =
                std::min_element(guessers.begin(), guessers.end(),
                                 [](const Client &a, const Client &b) { return a.next < b.next; });
            if (ownerNext <= next->next) {
                clock = ownerNext;
                if (const qint64 wait = throttle.admit(owner, email, clock); wait > 0)
                    ownerNext = clock + retryAfter(wait);
                else
                    ownerIn = clock;
                continue;
            }
            clock = next->next;
            const qint64 wait = throttle.admit(next->address, email, clock);
            if (wait == 0)
                checks.append(clock);
            next->next = clock + (pollMs > 0 ? pollMs : wait > 0 ? retryAfter(wait) : second);
        }
        [&] {
            QVERIFY2(ownerIn >= 0, "the owner isn't in after five minutes");
            QVERIFY(checks.size() > 20); // the account was paced
            for (qsizetype i = 20; i + 12 < checks.size(); ++i)
                QVERIFY2(checks[i + 12] - checks[i] >= 2 * minute, qPrintable(u"check %1"_s.arg(i)));
        }();
        if (QTest::currentTestFailed())
            return 0;
        qInfo("owner in after %lld s", (ownerIn - ownerFirst) / second);
        return ownerIn - ownerFirst;
    }
};

QTEST_GUILESS_MAIN(tst_SignInThrottle)
#include "tst_signinthrottle.moc"
