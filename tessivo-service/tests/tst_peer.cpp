#include "Peer.h"

#include <QTest>

using namespace tessivo::server;

class tst_Peer : public QObject
{
    Q_OBJECT

private slots:
    void groupsNeighbouringAddressesTogether_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("group");
        QTest::newRow("ipv4") << "203.0.113.77"
                              << "203.0.113.0/24";
        QTest::newRow("ipv4 mapped") << "::ffff:203.0.113.9"
                                     << "203.0.113.0/24";
        QTest::newRow("ipv6 loopback is the ipv4 one") << "::1"
                                                       << "127.0.0.0/24";
        QTest::newRow("ipv6 /48") << "2001:db8:abcd:12:1::5"
                                  << "2001:db8:abcd::/48";
        QTest::newRow("ipv6 other /64 of the same /48") << "2001:db8:abcd:ffff::1"
                                                        << "2001:db8:abcd::/48";
    }
    void groupsNeighbouringAddressesTogether()
    {
        QFETCH(QString, address);
        QFETCH(QString, group);
        QCOMPARE(peerGroup(QHostAddress(address)), group);
    }

    // Whoever holds many neighbouring groups holds them in one network.
    void networksHoldNeighbouringGroups_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("network");
        QTest::newRow("ipv4") << "203.0.113.77"
                              << "203.0.0.0/16";
        QTest::newRow("ipv6 loopback is the ipv4 one") << "::1"
                                                       << "127.0.0.0/16";
        QTest::newRow("ipv6") << "2001:db8:abcd:12:1::5"
                              << "2001:db8::/32";
        QTest::newRow("ipv6, another /48 of the /32") << "2001:db8:ffff::1"
                                                      << "2001:db8::/32";
    }
    void networksHoldNeighbouringGroups()
    {
        QFETCH(QString, address);
        QFETCH(QString, network);
        const ClientGroup group = clientGroup(QHostAddress(address));
        QCOMPARE(group.network, network);
        QCOMPARE(group.name, peerGroup(QHostAddress(address)));
        QVERIFY(clientGroup(QHostAddress(QStringLiteral("2001:db8:1::1"))).network !=
                clientGroup(QHostAddress(QStringLiteral("2001:db9:1::1"))).network);
    }

    void aGroupHoldsManyClients()
    {
        const QHostAddress a(QStringLiteral("2001:db8:abcd:1::1")), b(QStringLiteral("2001:db8:abcd:2::1"));
        QVERIFY(peerKey(a) != peerKey(b));
        QCOMPARE(peerGroup(a), peerGroup(b));
        QVERIFY(peerGroup(QHostAddress(QStringLiteral("203.0.113.1"))) !=
                peerGroup(QHostAddress(QStringLiteral("203.0.114.1"))));
    }
};

QTEST_GUILESS_MAIN(tst_Peer)
#include "tst_peer.moc"
