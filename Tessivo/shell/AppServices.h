#pragma once

#include "service/core/Keychain.h"

#include <QObject>
#include <QUrl>

class AIAssistant;
class APIClient;
class AppNotifications;
class AuthManager;
class DocumentStore;
class ImageLibrary;
class PreviewProfile;
class QSettings;
class SpellChecker;
class SyncEngine;
class UpdaterController;
class ViewModeSetting;

// The app's services, each made once and handed to whatever needs it: the
// client of the web service, the session, the sync engine, the image library,
// the AI assistant, the notification bus, the view mode, the spelling
// dictionary, the updater and the previews' web profile. main() makes it
// before the process can be reached by another launch, so the session's
// keyring read is the first thing under way; nothing is made later inside
// an event handler. Windows made on the services must be gone before them
// (the previews' pages need their profile).
class AppServices final : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QUrl serviceURL;                // the web service's base URL
        Keychain keychain = Keychain(); // the Secret Service by default
        // The app's settings, where the view mode and the main window's
        // frame are kept (not owned; must outlive the services); the
        // application's default settings when null.
        QSettings *settings = nullptr;
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
    AppNotifications *notifications() const { return m_notifications; }
    ViewModeSetting *viewMode() const { return m_viewMode; }
    SpellChecker *spelling() const { return m_spelling; }
    UpdaterController *updater() const { return m_updater; }
    PreviewProfile *preview() const { return m_preview; }
    // The settings named in the options (null: the default settings).
    QSettings *settings() const { return m_settings; }

private:
    DocumentStore *m_store;
    QSettings *m_settings;
    APIClient *m_client;
    AuthManager *m_auth;
    SyncEngine *m_sync;
    ImageLibrary *m_images;
    AIAssistant *m_assistant;
    AppNotifications *m_notifications;
    ViewModeSetting *m_viewMode;
    SpellChecker *m_spelling;
    UpdaterController *m_updater;
    PreviewProfile *m_preview;
};
