#pragma once

#include "ServiceTypes.h"

#include <QObject>
#include <QUrl>

#include <memory>

namespace tessivo::server {

class TestHooks;

// The Tessivo web service: HTTP routes, storage and sign-in pages. Lives on
// the thread that made it; `tessivo-service` runs one in its main loop and
// tests run one in-process beside the code under test.
class Server final : public QObject
{
    Q_OBJECT

public:
    explicit Server(ServerOptions options, QObject *parent = nullptr);
    ~Server() override;

    // Opens the database and starts listening. False with `error` set when
    // either fails.
    bool start(QString *error = nullptr);
    void stop();
    // The exit status for a failed start: 2 when an --admin address has no
    // account, 1 otherwise.
    int startFailureStatus() const;

    // Creates the account an --admin address names, in the options'
    // database. False with `error` set when it exists or can't be saved.
    static bool createAdmin(const ServerOptions &options, const QString &email, const QString &password,
                            QString *error);

    // The first listening address, e.g. "http://127.0.0.1:8787".
    QUrl baseUrl() const;
    quint16 port() const;

    // Test-only operations, declared in TestHooks.h; defined by the testing
    // library (tessivo_server), which the command-line service doesn't link.
    TestHooks hooks();

private:
    friend class TestHooks;
    friend class TestFront;
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tessivo::server
