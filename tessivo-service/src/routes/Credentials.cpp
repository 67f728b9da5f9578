#include "Credentials.h"

#include "protocol/Rules.h"

#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace tessivo::server {

QString newToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray tokenHash(const QString &token)
{
    return QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex();
}

QByteArray bearerToken(const LoggedRequest &request)
{
    return protocol::bearerToken(request.header("authorization"));
}

QString passwordHash(const QString &password, const QByteArray &salt, int iterations)
{
    const QByteArray key = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(),
                                                              salt, iterations, 32);
    return QStringLiteral("pbkdf2-sha256$%1$%2$%3")
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(key.toBase64()));
}

bool passwordMatches(const QString &password, const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != QLatin1String("pbkdf2-sha256"))
        return false;
    const QString expected =
        passwordHash(password, QByteArray::fromBase64(parts[2].toLatin1()), parts[1].toInt());
    // Compare without an early exit so timing says nothing about the hash.
    if (expected.size() != stored.size())
        return false;
    int difference = 0;
    for (qsizetype i = 0; i < expected.size(); ++i)
        difference |= expected[i].unicode() ^ stored[i].unicode();
    return difference == 0;
}

QString passwordProblem(const QString &password)
{
    if (password.size() < 8 || password.size() > 1024)
        return QStringLiteral("Choose a password of 8 characters or more.");
    return {};
}

} // namespace tessivo::server
