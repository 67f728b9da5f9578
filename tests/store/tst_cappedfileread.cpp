// The one reader of files others may have placed: it never waits on what it
// finds and never takes more than its bound.
#include "store/CappedFileRead.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using Status = CappedFileRead::Status;

class TestCappedFileRead : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_pipe[2] = {-1, -1};

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Reads on another thread: a reader that waits on a pipe is released
    // (its writer opened and closed, or gone) once the wait gives up, so the
    // test fails rather than hangs.
    CappedFileRead readSoon(const QString &file, qint64 limit)
    {
        QFuture<CappedFileRead> reading =
            QtConcurrent::run([=] { return CappedFileRead::read(file, limit); });
        if (!QTest::qWaitFor([&] { return reading.isFinished(); }, TestWaits::limitMs)) {
            const int writer = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
            ::close(m_pipe[1]);
            m_pipe[1] = -1;
            reading.waitForFinished();
            qWarning("the read waited on what it found");
        }
        return reading.result();
    }

private Q_SLOTS:
    void cleanup()
    {
        for (int &fd : m_pipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }

    void whatIsRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("expected");
        QTest::newRow("a fine file") << u"fine"_s << int(Status::ok);
        QTest::newRow("a link to a fine file") << u"link to fine"_s << int(Status::ok);
        QTest::newRow("an empty file") << u"empty"_s << int(Status::ok);
        QTest::newRow("nothing there") << u"missing"_s << int(Status::missing);
        QTest::newRow("a link to nothing") << u"dangling"_s << int(Status::missing);
        QTest::newRow("a FIFO with no writer") << u"fifo"_s << int(Status::notRegular);
        QTest::newRow("a pipe whose writer never writes") << u"pipe"_s << int(Status::notRegular);
        QTest::newRow("a folder") << u"folder"_s << int(Status::notRegular);
        QTest::newRow("/dev/zero") << u"zero"_s << int(Status::notRegular);
        QTest::newRow("a file one byte past the bound") << u"oversize"_s << int(Status::tooLarge);
        QTest::newRow("a link to a huge sparse file") << u"huge"_s << int(Status::tooLarge);
        QTest::newRow("a file it may not read") << u"forbidden"_s << int(Status::failed);
    }

    void whatIsRead()
    {
        QFETCH(QString, kind);
        QFETCH(int, expected);
        constexpr qint64 limit = 1000;
        const QByteArray text = "# Notes\n";
        QString file = path(kind);
        const auto write = [](const QString &at, const QByteArray &bytes) {
            QFile f(at);
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        if (kind == u"fine" || kind == u"link to fine") {
            QVERIFY(write(path(u"fine"_s), text));
            if (kind != u"fine")
                QVERIFY(QFile::link(path(u"fine"_s), file));
        } else if (kind == u"empty") {
            QVERIFY(write(file, {}));
        } else if (kind == u"dangling") {
            QVERIFY(QFile::link(path(u"nowhere"_s), file));
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        } else if (kind == u"pipe") {
            QCOMPARE(::pipe(m_pipe), 0);
            file = u"/proc/self/fd/%1"_s.arg(m_pipe[0]);
        } else if (kind == u"folder") {
            QVERIFY(QDir().mkpath(file));
        } else if (kind == u"zero") {
            file = u"/dev/zero"_s;
        } else if (kind == u"oversize") {
            QVERIFY(write(file, QByteArray(limit + 1, 'x')));
        } else if (kind == u"huge") {
            QFile sparse(path(u"sparse"_s));
            QVERIFY(sparse.open(QIODevice::WriteOnly));
            QVERIFY(sparse.resize(qint64(2) << 30));
            sparse.close();
            QVERIFY(QFile::link(sparse.fileName(), file));
        } else if (kind == u"forbidden") {
            if (::geteuid() == 0)
                QSKIP("permission bits do not stop the superuser");
            QVERIFY(write(file, text));
            QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
        }

        QCOMPARE(int(CappedFileRead::check(file, limit)),
                 expected == int(Status::failed) ? int(Status::ok) : expected);
        const CappedFileRead read = readSoon(file, limit);
        QCOMPARE(int(read.status), expected);
        QCOMPARE(read.error.isEmpty(), read.ok());
        QVERIFY(read.bytesRead <= limit + 1);
        if (read.ok())
            QCOMPARE(read.data, kind == u"empty" ? QByteArray() : text);
        else
            QVERIFY(read.data.isEmpty());
        // Refused by its size alone, nothing of it is read.
        if (kind == u"huge" || kind == u"oversize")
            QCOMPARE(read.bytesRead, 0);
    }

    // The bound holds the file's last byte: exactly `limit` bytes are read.
    void aFileAtTheBoundIsRead()
    {
        const QString file = path(u"exact"_s);
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(QByteArray(4096, 'a')) == 4096);
        f.close();
        const CappedFileRead read = CappedFileRead::read(file, 4096);
        QVERIFY(read.ok());
        QCOMPARE(read.data.size(), 4096);
    }
};

QTEST_GUILESS_MAIN(TestCappedFileRead)
#include "tst_cappedfileread.moc"
