#include "shell/AppServices.h"

#include "assistant/core/AIAssistant.h"
#include "publishing/core/ImageLibrary.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"

AppServices::AppServices(DocumentStore *store, Options options, QObject *parent)
    : QObject(parent), m_store(store), m_client(new APIClient(options.serviceURL, this)),
      m_auth(new AuthManager({m_client, std::move(options.keychain), store}, this)),
      m_sync(new SyncEngine(SyncEngine::Dependencies{store, m_auth, m_client, nullptr, {}}, this)),
      m_images(new ImageLibrary(m_client, m_auth->session(), this)),
      m_assistant(new AIAssistant(AIAssistant::overClient(m_client), AIAssistant::steadyClock(), this))
{}

AppServices::~AppServices() = default;
