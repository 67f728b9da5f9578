#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The session token's home across restarts: one secret per account under
// the service "com.tessivo.mac" in the desktop's Secret Service (through
// QtKeychain). Three operations that report nothing but their end: a read
// that fails for any reason reads as no item, a save or delete that fails
// leaves the keyring as it was. Nothing is logged, and nothing is ever
// written to a file or to the settings instead.
//
// The operations are asynchronous: the Secret Service may take its time
// (an unlock prompt can wait on the user for minutes), so nothing here
// waits for it; whenWritten() tells when the writes asked so far have
// ended. Saves and deletes run one at a time in the order they were asked,
// so the item ends in the state last asked for; a read runs at once, beside
// them. Copies of a Keychain share that order. Main thread only.
class Keychain final
{
public:
    using ReadDone = std::function<void(std::optional<QByteArray>)>;
    using WriteDone = std::function<void()>;

    // Where the secrets live. Each function starts one job on one account
    // of the service and calls `done` once when it ends, on the main thread
    // (possibly before returning).
    struct Backend
    {
        std::function<void(const QString &account, ReadDone done)> read;
        std::function<void(const QString &account, const QByteArray &value, WriteDone done)> save;
        std::function<void(const QString &account, WriteDone done)> remove;
    };

    static constexpr const char *service = "com.tessivo.mac";
    static constexpr const char *sessionTokenAccount = "session-token";

    // The desktop's Secret Service.
    static Backend secretService();
    // Items kept in memory, answering at once; copies of the backend share
    // them, so a second Keychain over the same backend sees what the first
    // saved.
    static Backend inMemory();

    explicit Keychain(Backend backend = secretService());

    // The stored value, handed to `done` unless `context` is gone first;
    // nothing when absent, unreadable or not valid UTF-8.
    void read(const QString &account, QObject *context,
              std::function<void(std::optional<QString>)> done) const;
    // Stores the value's UTF-8 bytes, creating the item when needed.
    void save(const QString &value, const QString &account);
    // Removes the item if there is one.
    void remove(const QString &account);
    // True while a save or delete is queued or running.
    bool isWriting() const;
    // Runs `done` once every save and delete asked so far has ended.
    void whenWritten(QObject *context, std::function<void()> done);

private:
    struct Writes;
    void enqueue(std::function<void(WriteDone)> job);
    static void runWrites(const std::shared_ptr<Writes> &writes);

    Backend m_backend;
    std::shared_ptr<Writes> m_writes;
};
