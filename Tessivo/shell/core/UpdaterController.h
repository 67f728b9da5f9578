#pragma once

#include <QObject>
#include <QVariant>

#include <functional>
#include <memory>

// What the updater needs of a software-update framework: start it, start a
// user-initiated check, its can-check flag with change reports, and its
// automatic-check flag.
class UpdaterBackend
{
public:
    virtual ~UpdaterBackend() = default;

    virtual void start() = 0;
    virtual void checkForUpdates() = 0;
    // Reports the current can-check value once at registration and again on
    // every change, possibly from another thread. The handler stays valid
    // for the backend's lifetime.
    virtual void observeCanCheckForUpdates(std::function<void(bool)> handler) = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
};

// The one owner of the update framework. A build is configured for updates
// only when its bundle information carries an update-signing key that is
// not a "REPLACE_WITH" placeholder; otherwise no backend is made, every
// update command stays disabled and nothing is ever fetched. This platform
// ships no update framework, so the app's controller has no backend factory.
class UpdaterController final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    using BackendFactory = std::function<std::unique_ptr<UpdaterBackend>()>;

    // `publicKey` is the bundle's "SUPublicEDKey" entry as found (invalid
    // when absent, of any type). `factory` makes the framework's controller
    // for a configured build; none means the framework is not available.
    explicit UpdaterController(const QVariant &publicKey, BackendFactory factory = {},
                               QObject *parent = nullptr);
    ~UpdaterController() override;

    bool isConfigured() const { return m_isConfigured; }
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    bool hasBackend() const { return m_controller != nullptr; }

    // Starts a user-initiated check; nothing without a backend.
    void checkForUpdates();
    // The framework's flag; false and ignored without a backend.
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);

    // Whether `publicKey` is a usable key: a non-empty string that does not
    // begin with "REPLACE_WITH".
    static bool isUsableKey(const QVariant &publicKey);

Q_SIGNALS:
    void canCheckForUpdatesChanged();

private:
    void setCanCheckForUpdates(bool value);

    bool m_isConfigured = false;
    bool m_canCheckForUpdates = false;
    std::unique_ptr<UpdaterBackend> m_controller;
};
