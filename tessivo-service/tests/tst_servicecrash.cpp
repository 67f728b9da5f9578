#include "ServiceFixture.h"
#include "TestSeed.h"

#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>

using namespace servicetest;
using namespace Qt::StringLiterals;

// Kills the service process with SIGKILL while pushes are under way, again
// and again: every push it answered must be in the database afterwards.
class tst_ServiceCrash : public QObject
{
    Q_OBJECT

private slots:
    void answeredPushesSurviveSigkill()
    {
        Fixture setup;
        START_SERVICE(setup);
        const QString token = setup.token();
        const QString database = setup.database;
        setup.server.reset();

        QRandomGenerator rng(testSeed());
        QNetworkAccessManager network;
        QSet<QString> answered;
        int sent = 0;
        for (int round = 0; round < 50; ++round) {
            QProcess service;
            service.setProgram(QStringLiteral(TESSIVO_BUILD_DIR "/tessivo-service/tessivo-service"));
            service.setArguments({"--listen", "127.0.0.1:0", "--database", database});
            service.start();
            QVERIFY(service.waitForReadyRead(TestWaits::limitMs));
            const auto match =
                QRegularExpression("http://127\\.0\\.0\\.1:(\\d+)").match(service.readAllStandardOutput());
            QVERIFY(match.hasMatch());
            const QString base = match.captured(0);

            // Four pushes in flight at any time; the kill lands after a random
            // number of answers, with the others half done.
            const int killAfter = 1 + rng.bounded(6);
            int answeredThisRound = 0;
            std::function<void()> push = [&] {
                const QString id = QStringLiteral("doc-%1").arg(++sent);
                QNetworkRequest request(QUrl(base + "/api/v1/documents/sync"));
                request.setRawHeader("authorization", "Bearer " + token.toLatin1());
                request.setRawHeader("content-type", "application/json");
                const QString body =
                    uR"({"docs":[{"id":"%1","body":"%2","createdAt":1,"updatedAt":1}],"collections":[]})"_s;
                QNetworkReply *reply = network.post(request, body.arg(id, QString(2000, u'x')).toUtf8());
                connect(reply, &QNetworkReply::finished, &service, [&, reply, id] {
                    reply->deleteLater();
                    if (reply->error() != QNetworkReply::NoError)
                        return;
                    const QJsonObject result = QJsonDocument::fromJson(reply->readAll()).object();
                    if (result["results"][0][u"status"_s] == u"ok"_s)
                        answered.insert(id);
                    if (++answeredThisRound == killAfter)
                        service.kill();
                    else
                        push();
                });
            };
            for (int i = 0; i < 4; ++i)
                push();
            if (service.state() != QProcess::NotRunning) {
                QSignalSpy finished(&service, &QProcess::finished);
                QVERIFY(finished.wait(TestWaits::limitMs));
            }
            QCOMPARE(service.exitStatus(), QProcess::CrashExit);
        }

        Fixture after;
        ServerOptions options;
        options.database = database;
        START_SERVICE(after, options);
        QSet<QString> stored;
        for (const QJsonValue &doc :
             after.call("GET", "/api/v1/documents/sync?since=0", token).json()["documents"].toArray())
            stored.insert(doc.toObject()["id"].toString());
        QVERIFY(answered.size() >= 50);
        const QSet<QString> lost = answered - stored;
        QVERIFY2(lost.isEmpty(), qPrintable(QStringList(lost.values()).join(' ')));
    }
};

QTEST_GUILESS_MAIN(tst_ServiceCrash)
#include "tst_servicecrash.moc"
