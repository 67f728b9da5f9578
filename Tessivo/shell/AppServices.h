#pragma once

#include "service/core/Keychain.h"

#include <QObject>
#include <QUrl>

class AIAssistant;
class APIClient;
class AuthManager;
class DocumentStore;
class ImageLibrary;
class SyncEngine;

// The app's services, each made once and handed to whatever needs it: the
// client of the web service, the session, the sync engine, the image library
// and the AI assistant. main() makes it before the process can be reached
// by another launch, so the session's keyring read is the first thing under
// way; nothing is made later inside an event handler.
class AppServices final : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QUrl serviceURL;                // the web service's base URL
        Keychain keychain = Keychain(); // the Secret Service by default
    };

    // On `store` (not owned; must outlive the services).
    AppServices(DocumentStore *store, Options options, QObject *parent = nullptr);
    ~AppServices() override;

    DocumentStore *store() const { return m_store; }
    APIClient *client() const { return m_client; }
    AuthManager *auth() const { return m_auth; }
    SyncEngine *sync() const { return m_sync; }
    ImageLibrary *images() const { return m_images; }
    AIAssistant *assistant() const { return m_assistant; }

private:
    DocumentStore *m_store;
    APIClient *m_client;
    AuthManager *m_auth;
    SyncEngine *m_sync;
    ImageLibrary *m_images;
    AIAssistant *m_assistant;
};
