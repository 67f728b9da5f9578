#include "shell/AppServices.h"

#include "app/core/AppNotifications.h"
#include "assistant/core/AIAssistant.h"
#include "editor/PreviewProfile.h"
#include "editor/SpellChecker.h"
#include "publishing/core/ImageLibrary.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "shell/core/BundleInfo.h"
#include "shell/core/DetailViewMode.h"
#include "shell/core/UpdaterController.h"

AppServices::AppServices(DocumentStore *store, Options options, QObject *parent)
    : QObject(parent), m_store(store), m_settings(options.settings),
      m_client(new APIClient(options.serviceURL, this)),
      m_auth(new AuthManager({m_client, std::move(options.keychain), store}, this)),
      m_sync(new SyncEngine(SyncEngine::Dependencies{store, m_auth, m_client, nullptr, {}}, this)),
      m_images(new ImageLibrary(m_client, m_auth->session(), this)),
      m_assistant(new AIAssistant(AIAssistant::overClient(m_client), AIAssistant::steadyClock(), this)),
      m_notifications(new AppNotifications(this)), m_viewMode(new ViewModeSetting(options.settings, this)),
      // The dictionary loads on the thread pool from here on; until then
      // every word counts as correct.
      m_spelling(new SpellChecker({}, {}, {}, this)),
      m_updater(
          new UpdaterController(BundleInfo::objectForInfoDictionaryKey(BundleInfo::publicEDKey), {}, this)),
      m_preview(new PreviewProfile(this))
{
    // The preview shows images from the service only: its own address, and
    // wherever its image records say the images are (its public address
    // when it is set up with one).
    m_preview->allowImagesFrom(m_client->baseURL());
    connect(m_images, &ImageLibrary::imagesChanged, m_preview, [this] {
        for (const ImageAsset &image : m_images->images())
            m_preview->allowImagesFrom(QUrl(image.url));
    });
}

AppServices::~AppServices() = default;
