#include "protocol/Rules.h"
#include "publishing/MediaTileImages.h"
#include "sidebar/SidebarFooterRows.h"

#include "FloodServer.h"

#include <QApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The most the kernel may hold of one loopback connection: the sender's
// and the receiver's buffers at their largest (Linux grows them as the
// reader keeps up, up to these).
qint64 kernelSocketBuffers()
{
    qint64 total = 0;
    for (const char *path : {"/proc/sys/net/ipv4/tcp_rmem", "/proc/sys/net/ipv4/tcp_wmem"}) {
        QFile file(QString::fromLatin1(path));
        const QList<QByteArray> fields =
            file.open(QIODevice::ReadOnly) ? file.readAll().simplified().split(' ') : QList<QByteArray>();
        total += fields.size() == 3 ? fields.at(2).toLongLong() : qint64(8) << 20;
    }
    return total;
}

} // namespace

// The pictures the app fetches from addresses in the account's data, which
// may point anywhere: a host that sends gigabytes must cost the app no more
// than the picture's own limit, whether it declares the length or streams
// the bytes chunked.
class TestPictureCaps : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void picturesAreReadNoFurtherThanTheirLimit_data()
    {
        QTest::addColumn<bool>("tile"); // a media tile, else the avatar
        QTest::addColumn<bool>("chunked");
        QTest::newRow("tile, declared length") << true << false;
        QTest::newRow("tile, chunked") << true << true;
        QTest::newRow("avatar, declared length") << false << false;
        QTest::newRow("avatar, chunked") << false << true;
    }

    void picturesAreReadNoFurtherThanTheirLimit()
    {
        QFETCH(bool, tile);
        QFETCH(bool, chunked);
        const qint64 flood = qint64(1) << 30;
        FloodServer host(200, chunked ? FloodServer::Body::chunked : FloodServer::Body::plain, flood,
                         chunked ? QByteArray() : "content-length: " + QByteArray::number(flood) + "\r\n");
        const QUrl picture(host.url().toString() + u"/picture.png"_s);
        const qint64 limit = tile ? protocol::images::maxBytes : Avatar::maximumImageBytes;

        if (tile) {
            MediaTileImages images(QSize(200, 200));
            QSignalSpy changed(&images, &MediaTileImages::changed);
            QCOMPARE(images.image(picture.toString()), MediaTileImages::State::loading);
            QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), TestWaits::limitMs);
            QCOMPARE(images.image(picture.toString()), MediaTileImages::State::failed);
        } else {
            QNetworkAccessManager network;
            QSignalSpy finished(&network, &QNetworkAccessManager::finished);
            Avatar avatar(&network);
            avatar.setUser(u"A"_s, picture);
            QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), TestWaits::limitMs);
            QVERIFY(!avatar.hasImage());
        }
        // What the host got out is what the app read, give or take the
        // kernel's socket buffers, the host's own queue and Qt's margin past
        // the limit; reading on would take the whole gigabyte.
        QVERIFY2(
            host.served() < limit + kernelSocketBuffers() + (4 << 20),
            qPrintable(u"%1 MiB read for a limit of %2 MiB"_s.arg(host.served() >> 20).arg(limit >> 20)));
    }
};

QTEST_MAIN(TestPictureCaps)
#include "tst_picturecaps.moc"
