#include "HostRule.h"

#include "protocol/Rules.h"

namespace tessivo::server {

namespace {
int defaultPort(const QString &scheme)
{
    return scheme == QLatin1String("https") ? 443 : 80;
}
} // namespace

std::optional<HostName> HostName::parse(QByteArrayView host)
{
    const QString text = QString::fromLatin1(host).toLower();
    QString name = text;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        name = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return std::nullopt;
        port = rest.mid(1);
        if (QHostAddress(name).protocol() != QAbstractSocket::IPv6Protocol)
            return std::nullopt;
    } else if (const qsizetype colon = text.indexOf(QLatin1Char(':')); colon >= 0) {
        name = text.left(colon);
        port = text.mid(colon + 1);
    }
    HostName parsed{name, -1};
    if (!port.isNull()) {
        bool ok = false;
        parsed.port = port.toInt(&ok);
        if (!ok || port.isEmpty() || !port.front().isDigit() || parsed.port < 1 || parsed.port > 65535)
            return std::nullopt;
    }
    if (parsed.name.isEmpty())
        return std::nullopt;
    return parsed;
}

bool HostName::isLoopbackSpelling() const
{
    return name == QLatin1String("localhost") || name == QLatin1String("127.0.0.1") ||
           name == QLatin1String("::1");
}

HostRule::HostRule(const QUrl &publicUrl)
    : m_scheme(publicUrl.scheme().toLower()), m_host(publicUrl.host().toLower()),
      m_port(publicUrl.port(defaultPort(m_scheme)))
{}

bool HostRule::accepts(QByteArrayView host, const QHostAddress &local, quint16 localPort) const
{
    const std::optional<HostName> parsed = HostName::parse(host);
    if (!parsed)
        return false;
    const QString &name = parsed->name;
    const bool ownName =
        name == m_host || (name.endsWith(QLatin1Char('.') + m_host) &&
                           protocol::siteHandles::isHostLabel(QStringView(name).chopped(m_host.size() + 1)));
    if (ownName && (parsed->port < 0 || parsed->port == m_port))
        return true;
    return local.isLoopback() && parsed->isLoopbackSpelling() && parsed->port == localPort;
}

bool HostRule::isOwnOrigin(const QUrl &origin, QByteArrayView host) const
{
    if (!origin.isValid() || origin.host().isEmpty())
        return false;
    const QString scheme = origin.scheme().toLower();
    const QString name = origin.host().toLower();
    const int port = origin.port(defaultPort(scheme));
    if (scheme == m_scheme && name == m_host && port == m_port)
        return true;
    const std::optional<HostName> requested = HostName::parse(host);
    return requested && requested->isLoopbackSpelling() && scheme == QLatin1String("http") &&
           name == requested->name && port == requested->port;
}

} // namespace tessivo::server
