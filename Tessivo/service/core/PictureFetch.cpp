#include "service/core/PictureFetch.h"

#include "service/core/APIClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace pictureFetch {

QNetworkReply *get(QNetworkAccessManager &network, const QUrl &url, qint64 maxBytes)
{
    // Only web pictures: a file or other scheme from a record is never read.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return nullptr;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(stallTimeoutMs);
    QNetworkReply *reply = network.get(request);
    APIClient::limitReply(reply, maxBytes);
    return reply;
}

} // namespace pictureFetch
