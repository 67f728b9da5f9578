#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The session token's home across restarts: one secret per account under
// the service "com.tessivo.mac" in the desktop's Secret Service (through
// QtKeychain). Three operations that return at once and report nothing: a
// read that fails for any reason reads as no item, a save or delete that
// fails leaves the keyring as it was. Nothing is logged, and nothing is
// ever written to a file or to the settings instead.
//
// QtKeychain's jobs are asynchronous; each operation runs its job to its end
// in a local event loop that takes no user input (the Secret Service answers
// in milliseconds; a job that takes longer than jobTimeoutMs counts as
// failed). Main thread only.
class Keychain final
{
public:
    // Where the secrets live. Each function works on one account of the
    // service; `read` gives the stored bytes or nothing.
    struct Backend
    {
        std::function<std::optional<QByteArray>(const QString &account)> read;
        std::function<void(const QString &account, const QByteArray &value)> save;
        std::function<void(const QString &account)> remove;
    };

    static constexpr const char *service = "com.tessivo.mac";
    static constexpr const char *sessionTokenAccount = "session-token";
    static constexpr int jobTimeoutMs = 5000;

    // The desktop's Secret Service.
    static Backend secretService();
    // Items kept in memory; copies of the backend share them, so a second
    // Keychain over the same backend sees what the first saved.
    static Backend inMemory();

    explicit Keychain(Backend backend = secretService());

    // The stored value; nothing when absent, unreadable or not valid UTF-8.
    std::optional<QString> read(const QString &account) const;
    // Stores the value's UTF-8 bytes, creating the item when needed.
    void save(const QString &value, const QString &account);
    // Removes the item if there is one.
    void remove(const QString &account);

private:
    Backend m_backend;
};
