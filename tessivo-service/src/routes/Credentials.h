#pragma once

#include "ServiceTypes.h"

#include <QByteArray>
#include <QString>

namespace tessivo::server {

// Token text and the hash under which it is stored.
QString newToken();
QByteArray tokenHash(const QString &token);
// The token of an "authorization: Bearer …" header, or empty.
QByteArray bearerToken(const LoggedRequest &request);

QString passwordHash(const QString &password, const QByteArray &salt, int iterations);
bool passwordMatches(const QString &password, const QString &stored);
// What is wrong with a new password, or empty when it will do.
QString passwordProblem(const QString &password);

} // namespace tessivo::server
