#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

class QNetworkAccessManager;

// The pictures of the media grid's tiles. Each is fetched with a plain GET of
// its address (pictureFetch: no token, read no further than an upload may
// be), the first time a tile asks for it, which a tile does only when it is painted: images
// of tiles that never scroll into view are never requested. Decoded off the
// main thread at no more than `maxSize`. Main thread only.
class MediaTileImages final : public QObject
{
    Q_OBJECT

public:
    enum class State { loading, loaded, failed };

    explicit MediaTileImages(QSize maxSize, QObject *parent = nullptr);

    // The state of `url`'s picture, and the picture when loaded; the first
    // call starts the fetch.
    State image(const QString &url, QImage *picture = nullptr);

Q_SIGNALS:
    // `url` finished loading, well or not.
    void changed(const QString &url);

private:
    struct Entry
    {
        State state = State::loading;
        QImage picture;
    };

    void fetch(const QString &url);

    QSize m_maxSize;
    QNetworkAccessManager *m_network;
    QHash<QString, Entry> m_entries;
};
