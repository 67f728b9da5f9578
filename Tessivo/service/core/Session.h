#pragma once

#include "service/core/Keychain.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class APIClient;
class QEventLoop;
class QSettings;
class SaveClock;

// The session token and its keyring copy. The token is handed to the client
// for every request; rolled tokens are adopted in memory at once and their
// keyring copy follows. A 401 ends nothing here: the session check, the
// account refresh and a sync end the session themselves (AuthManager).
//
// The keyring is read once, asynchronously, when start() is called: until
// that read ends the session is *reading*, neither signed in nor out, and
// work that depends on knowing which is held (whenSettled). A read that ends
// after a sign-in or sign-out has decided is ignored. After readTimeoutMs
// without an answer the session counts as signed out, and a later answer is
// still taken if nothing else has set the token meanwhile.
//
// A token the keyring answers with that cannot be a session token
// (protocol::isSessionToken) reads as none, and is deleted from the keyring.
//
// A sign-out holds even when the keyring never carries out its delete (it
// waits on an unlock prompt, or the app quits first), and even for a token
// this run never read (the keyring did not answer at start-up): from a
// sign-out until a start reads a token saved after it, the settings list
// the tokens asked of the keyring since, by digest, and a start that reads
// any other takes it for no token and asks the keyring again to delete it.
// A sign-in holds the same way over the session before it: the list starts
// afresh with the new token, so a keyring that never saved it (stuck, or the
// app quit first) cannot bring the older session back at the next start,
// which comes up signed out instead.
//
// Generations: every new session and every end starts a new generation. A
// reply to a request of an earlier one (a rolled token, an account record, a
// check's verdict) is dropped, so a reply in flight at sign-out cannot sign
// the user back in or out of a newer session. Main thread only.
class Session final : public QObject
{
    Q_OBJECT

public:
    // `settings` (not owned, required) keeps the sign-outs the keyring may
    // not have carried out yet. `clock` times the read's time-out (a steady
    // clock when null).
    Session(APIClient *client, Keychain keychain, QSettings *settings, SaveClock *clock = nullptr,
            QObject *parent = nullptr);
    ~Session() override;

    // Starts the keyring read (once).
    void start();

    const std::optional<QString> &token() const { return m_token; }
    bool hasToken() const { return m_token.has_value(); }
    // True from start() until the read has ended or timed out.
    bool isReading() const { return m_reading; }
    quint64 generation() const { return m_generation; }

    // Runs `f` once the session is no longer reading: at once when it is
    // not, else when the read ends or times out. Dropped if `context` goes.
    void whenSettled(QObject *context, std::function<void()> f);

    // A new session with `token` (a finished sign-in), saved to the keyring.
    void begin(const QString &token);
    // Forgets the session and its keyring item; emits ended().
    void end();
    // A sign-out that tells the service first: from now on a start takes
    // the tokens saved so far for ended, should the app quit before end().
    void noteEnding();
    // While a sign-in's exchange is out, the token rolled onto its reply
    // (a request sent without one) is the new session.
    void setExchanging(bool exchanging) { m_exchanging = exchanging; }
    // How a wait for the keyring's writes ended.
    enum class KeyringWait {
        written,  // every queued save and delete has ended
        timedOut, // some were still waiting on the keyring
        // Asked for during a wait (the event loop it runs brought the call
        // back): it returned at once, and the wait it is inside tells.
        withinAWait,
    };
    // At quit: runs the event loop until the keyring's queued saves and
    // deletes have ended (so that a sign-out just before quitting holds), or
    // `timeoutMs` has passed on the clock. Asked for again during that wait,
    // it returns at once: the first wait is still bounded.
    KeyringWait waitForKeyring(int timeoutMs);
    // True when `token` is one this session's generation has had.
    bool isCurrent(const QString &token) const { return m_generationTokens.contains(token); }

    static constexpr int readTimeoutMs = 5000;

Q_SIGNALS:
    void tokenChanged();
    void readingChanged();
    // A new generation began: a new session, or none.
    void generationChanged();
    // The session was forgotten: signed out, or the service no longer knows
    // its token.
    void ended();
    // The keyring's token became the session after start-up's read (also
    // one that came late).
    void restored();

private:
    void adoptRolledToken(const QString &token, const QString &sentToken);
    void readEnded(std::optional<QString> token);
    // The keyring's answer is void: junk, or a token saved before the last
    // sign-out or sign-in.
    bool isVoid(const QString &token);
    // In the settings at once: a token saved after a sign-out or sign-in.
    void noteSaved(const QString &token);
    void settle();
    // Wakes the clock for the earliest of the read's time-out and the end of
    // a keyring wait.
    void armClock();
    void setToken(const std::optional<QString> &token);
    void newGeneration(const std::optional<QString> &token);

    QPointer<APIClient> m_client;
    Keychain m_keychain;
    QSettings *m_settings;
    SaveClock *m_clock;
    std::optional<QString> m_token;
    bool m_started = false;
    bool m_reading = false;
    qint64 m_readDue = 0;
    // waitForKeyring() is under way; its event loop, until it gives up at
    // m_keyringWaitDue.
    bool m_waitingForKeyring = false;
    QEventLoop *m_keyringWait = nullptr;
    qint64 m_keyringWaitDue = 0;
    // The read's answer may still be taken: nothing has set the token since
    // start().
    bool m_readMayDecide = true;
    quint64 m_generation = 0;
    // Every token the current session has had; a roll counts only when its
    // request went out with one of them.
    QSet<QString> m_generationTokens;
    bool m_exchanging = false;
    // The current session is being signed out of: a token rolled meanwhile
    // does not count as saved after the sign-out.
    bool m_ending = false;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> m_held;
};
