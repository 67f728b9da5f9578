#include "publishing/MediaTileImages.h"

#include "protocol/Rules.h"
#include "service/core/PictureFetch.h"
#include "store/ThenWhileAlive.h"

#include <QBuffer>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// The picture scaled down so that it still covers `bounds`, or as it is
// when smaller; null when the bytes are no image.
QImage decode(const QByteArray &bytes, QSize bounds)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > bounds.width() || size.height() > bounds.height()))
        reader.setScaledSize(size.scaled(bounds, Qt::KeepAspectRatioByExpanding));
    return reader.read();
}

} // namespace

MediaTileImages::MediaTileImages(QSize maxSize, QObject *parent)
    : QObject(parent), m_maxSize(maxSize), m_network(new QNetworkAccessManager(this))
{}

MediaTileImages::State MediaTileImages::image(const QString &url, QImage *picture)
{
    auto it = m_entries.find(url);
    if (it == m_entries.end()) {
        it = m_entries.insert(url, Entry{});
        fetch(url);
    }
    if (picture)
        *picture = it->picture;
    return it->state;
}

void MediaTileImages::fetch(const QString &url)
{
    // A tile's picture is an uploaded image: no larger than an upload may be.
    QNetworkReply *reply = pictureFetch::get(*m_network, QUrl(url), protocol::images::maxBytes);
    if (!reply) {
        m_entries[url].state = State::failed;
        return;
    }
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
            m_entries[url].state = State::failed;
            Q_EMIT changed(url);
            return;
        }
        thenWhileAlive(QtConcurrent::run(decode, reply->readAll(), m_maxSize), this,
                       [this, url](const QImage &picture) {
                           Entry &entry = m_entries[url];
                           entry.state = picture.isNull() ? State::failed : State::loaded;
                           entry.picture = picture;
                           Q_EMIT changed(url);
                       });
    });
}
