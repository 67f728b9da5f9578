#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

class QWebEngineProfile;

// The off-the-record web profile every preview page of the app runs in: no
// disk storage, and no request reaches the network except images from the
// origins allowed here: the web service's own and those of the addresses in
// its image records, where uploaded images live.
//
// The web engine starts when the profile is first asked for, not when this
// object is made, so that the window can show before the engine runs. Pages
// made on the profile must be gone before this object is: the engine would
// otherwise keep a profile with no owner.
class PreviewProfile final : public QObject
{
    Q_OBJECT

public:
    explicit PreviewProfile(QObject *parent = nullptr);
    ~PreviewProfile() override;

    // The profile, made on first use.
    QWebEngineProfile *profile();
    // Lets previews show images from the origin (scheme, host and port) of
    // `url`, besides those allowed before; nothing else from the network. A
    // loopback host counts however it is spelled ("localhost", "127.0.0.1",
    // "[::1]"): the service names itself "localhost" in its links while the
    // app may reach it by address. Only http and https, without user info.
    void allowImagesFrom(const QUrl &url);
    // Whether previews may load an image from `url`.
    bool allowsImage(const QUrl &url) const;

private:
    QWebEngineProfile *m_profile = nullptr;
    QSet<QString> m_imageOrigins;
};
