#pragma once

#include <QtGlobal>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

namespace pictureFetch {

// The longest a picture's transfer may go without a byte arriving.
inline constexpr int stallTimeoutMs = 30'000;

// A plain GET of a picture shown beside the account's data (a media tile, the
// avatar). It carries no session token: the picture may live on another
// host. It is read no further than `maxBytes`, checked as the bytes arrive,
// so a host that sends gigabytes costs the app no more than the limit; past
// it, or after stallTimeoutMs without progress, the reply ends with an error.
// Only http and https addresses are fetched: for any other, nullptr.
QNetworkReply *get(QNetworkAccessManager &network, const QUrl &url, qint64 maxBytes);

} // namespace pictureFetch
