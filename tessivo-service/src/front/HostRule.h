#pragma once

#include <QByteArrayView>
#include <QHostAddress>
#include <QString>
#include <QUrl>

#include <optional>

namespace tessivo::server {

// A Host header (or a URL's authority) taken apart: the name lower-cased,
// an IPv6 literal without its brackets; port -1 when none was given.
struct HostName
{
    QString name;
    int port = -1;

    static std::optional<HostName> parse(QByteArrayView host);
    // localhost, 127.0.0.1 or [::1].
    bool isLoopbackSpelling() const;
};

// The host names the service answers for. A page another site's name
// resolves to this service (DNS rebinding) arrives under that name, and
// must get nothing: not the sign-in form, not a user's data.
class HostRule
{
public:
    HostRule() = default;
    explicit HostRule(const QUrl &publicUrl);

    // The public URL's host or <handle>.<that host>, on its port or none (a
    // proxy's $host has none); on a loopback connection also a loopback
    // spelling with the port the connection reached.
    bool accepts(QByteArrayView host, const QHostAddress &local, quint16 localPort) const;
    // Whether a page at `origin` is this service's own: the public URL's
    // scheme, host and port, or, for a request to a loopback spelling
    // (accepted on a loopback connection only), plain http on that Host.
    bool isOwnOrigin(const QUrl &origin, QByteArrayView host) const;

private:
    QString m_scheme;
    QString m_host;
    int m_port = -1;
};

} // namespace tessivo::server
