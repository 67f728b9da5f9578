#include "service/core/Session.h"

#include "service/core/APIClient.h"
#include "store/SaveClock.h"

namespace {

const QString tokenAccount = QString::fromLatin1(Keychain::sessionTokenAccount);

} // namespace

Session::Session(APIClient *client, Keychain keychain, SaveClock *clock, QObject *parent)
    : QObject(parent), m_client(client), m_keychain(std::move(keychain)),
      m_clock(clock ? clock : new SteadySaveClock(this))
{
    m_client->setTokenProvider([self = QPointer<Session>(this)]() -> std::optional<QString> {
        return self ? self->m_token : std::nullopt;
    });
    connect(m_client, &APIClient::tokenRolled, this, &Session::adoptRolledToken);
    connect(m_clock, &SaveClock::woke, this, [this] {
        if (m_reading) {
            qInfo("[auth] the keyring hasn't answered yet: signed out until it does");
            settle();
        }
    });
}

Session::~Session()
{
    if (m_client)
        m_client->setTokenProvider({});
}

void Session::start()
{
    if (m_started)
        return;
    m_started = true;
    m_reading = true;
    Q_EMIT readingChanged();
    m_clock->wakeAt(m_clock->nowMs() + readTimeoutMs);
    m_keychain.read(tokenAccount, this, [this](const std::optional<QString> &token) { readEnded(token); });
}

void Session::readEnded(const std::optional<QString> &token)
{
    const bool late = !m_reading;
    if (token && m_readMayDecide) {
        newGeneration(token);
        m_readMayDecide = false;
        if (late)
            Q_EMIT restored();
    }
    m_readMayDecide = false;
    if (m_reading)
        settle();
}

void Session::settle()
{
    if (!m_reading)
        return;
    m_clock->cancelWake();
    m_reading = false;
    Q_EMIT readingChanged();
    const auto held = std::exchange(m_held, {});
    for (const auto &[context, f] : held)
        if (context)
            f();
}

void Session::whenSettled(QObject *context, std::function<void()> f)
{
    if (!m_reading)
        f();
    else
        m_held.append({context, std::move(f)});
}

void Session::setToken(const std::optional<QString> &token)
{
    m_readMayDecide = false;
    if (token == m_token)
        return;
    m_token = token;
    Q_EMIT tokenChanged();
}

void Session::newGeneration(const std::optional<QString> &token)
{
    ++m_generation;
    m_generationTokens.clear();
    if (token)
        m_generationTokens.insert(*token);
    setToken(token);
    Q_EMIT generationChanged();
}

void Session::begin(const QString &token)
{
    newGeneration(token);
    m_keychain.save(token, tokenAccount);
    settle();
}

void Session::end()
{
    newGeneration(std::nullopt);
    m_keychain.remove(tokenAccount);
    settle();
    Q_EMIT ended();
}

void Session::adoptRolledToken(const QString &token, const QString &sentToken)
{
    // Only the sign-in exchange goes out without a token: its roll is the
    // new session. Any other roll must replace a token of this session.
    if (sentToken.isEmpty() ? !m_exchanging : !m_generationTokens.contains(sentToken)) {
        qInfo("[auth] dropped a session token from a reply of an earlier session");
        return;
    }
    if (sentToken.isEmpty()) {
        begin(token);
        return;
    }
    // In memory at once: the next request must carry it, whatever the
    // keyring is doing.
    m_generationTokens.insert(token);
    setToken(token);
    m_keychain.save(token, tokenAccount);
}
