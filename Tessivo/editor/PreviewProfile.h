#pragma once

#include <QObject>
#include <QUrl>

class QWebEngineProfile;

// The off-the-record web profile every preview page of the app runs in: no
// disk storage, and no request reaches the network except images from the
// web service's own address, where uploaded images live.
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
    // Lets previews show images from the web service at `serviceURL` (its
    // scheme, host and port); nothing else from the network.
    void allowImagesFrom(const QUrl &serviceURL);
    QUrl imageOrigin() const { return m_imageOrigin; }

private:
    QWebEngineProfile *m_profile = nullptr;
    QUrl m_imageOrigin;
};
