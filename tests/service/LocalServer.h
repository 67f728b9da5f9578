#pragma once

#include "TestHooks.h"

#include <QtGlobal>

#include <memory>

// The service in-process on a free loopback port, with an in-memory database.
inline std::unique_ptr<tessivo::server::Server>
startLocalServer(const tessivo::server::ServiceLimits &limits = {})
{
    tessivo::server::ServerOptions options;
    options.limits = limits;
    options.listen = {{QHostAddress::LocalHost, 0}};
    options.database = QStringLiteral("sqlite::memory:");
    options.passwordIterations = 1000;
    auto server = std::make_unique<tessivo::server::Server>(options);
    QString error;
    if (!server->start(&error))
        qFatal("service didn't start: %s", qPrintable(error));
    return server;
}
