#include "editor/PreviewProfile.h"

#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

using namespace Qt::StringLiterals;

namespace {

// Every request of a preview page: local files and inline data, and images
// from the origins the profile allows, where the user's uploaded images
// live. The page's own security policy says much the same; this holds even
// for what the policy cannot see. The engine calls it on the main thread,
// where the origins are set.
class LocalOnlyInterceptor final : public QWebEngineUrlRequestInterceptor
{
public:
    LocalOnlyInterceptor(const PreviewProfile *owner, QObject *parent)
        : QWebEngineUrlRequestInterceptor(parent), m_owner(owner)
    {}

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        static const QStringList allowed{u"file"_s, u"data"_s, u"blob"_s, u"qrc"_s};
        const QUrl url = info.requestUrl();
        if (allowed.contains(url.scheme().toLower()))
            return;
        if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeImage && m_owner->allowsImage(url))
            return;
        info.block(true);
    }

private:
    const PreviewProfile *m_owner;
};

// "scheme://host:port" of an http or https URL without user info, the port
// spelled out and every spelling of the loopback host as one; empty for
// any other URL.
QString originOf(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if ((scheme != u"http" && scheme != u"https") || !url.userInfo().isEmpty() || url.host().isEmpty())
        return {};
    QString host = url.host().toLower();
    if (host == u"127.0.0.1" || host == u"::1")
        host = u"localhost"_s;
    return scheme + u"://"_s + host + u':' + QString::number(url.port(scheme == u"https" ? 443 : 80));
}

} // namespace

PreviewProfile::PreviewProfile(QObject *parent) : QObject(parent) {}

PreviewProfile::~PreviewProfile()
{
    delete m_profile;
}

QWebEngineProfile *PreviewProfile::profile()
{
    if (m_profile)
        return m_profile;
    m_profile = new QWebEngineProfile;
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setUrlRequestInterceptor(new LocalOnlyInterceptor(this, m_profile));
    QWebEngineSettings *s = m_profile->settings();
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    // The page may ask for remote images; the request interceptor admits only
    // those of the web service.
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    return m_profile;
}

void PreviewProfile::allowImagesFrom(const QUrl &url)
{
    const QString origin = originOf(url);
    if (!origin.isEmpty())
        m_imageOrigins.insert(origin);
}

bool PreviewProfile::allowsImage(const QUrl &url) const
{
    const QString origin = originOf(url);
    return !origin.isEmpty() && m_imageOrigins.contains(origin);
}
