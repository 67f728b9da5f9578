#include "service/core/Session.h"

#include "protocol/Rules.h"
#include "service/core/APIClient.h"
#include "store/SaveClock.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QSettings>

namespace {

const QString tokenAccount = QString::fromLatin1(Keychain::sessionTokenAccount);
// Present from a sign-out or sign-in until a start reads a token saved
// after it: the digests of the tokens asked of the keyring since (none at
// first after a sign-out, the new one after a sign-in). Digests, so that the
// settings file never holds a usable token. (Named when only sign-outs
// kept it; the name stays so that a list an earlier version left holds.)
const QString savedSinceSignOutKey = QStringLiteral("session/savedSinceSignOut");
// The ended tokens an earlier version listed instead.
const QString endedTokensKey = QStringLiteral("session/endedTokenDigests");

constexpr qsizetype maxSavedSinceSignOut = 16;

QString digest(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

} // namespace

Session::Session(APIClient *client, Keychain keychain, QSettings *settings, SaveClock *clock, QObject *parent)
    : QObject(parent), m_client(client), m_keychain(std::move(keychain)), m_settings(settings),
      m_clock(clock ? clock : new SteadySaveClock(this))
{
    Q_ASSERT(m_settings);
    if (m_settings->contains(endedTokensKey)) {
        // A sign-out the keyring may not have carried out yet.
        m_settings->remove(endedTokensKey);
        m_settings->setValue(savedSinceSignOutKey, QStringList());
        m_settings->sync();
    }
    m_client->setTokenProvider([self = QPointer<Session>(this)]() -> std::optional<QString> {
        return self ? self->m_token : std::nullopt;
    });
    connect(m_client, &APIClient::tokenRolled, this, &Session::adoptRolledToken);
    connect(m_clock, &SaveClock::woke, this, [this] {
        const qint64 now = m_clock->nowMs();
        if (m_keyringWait && now >= m_keyringWaitDue)
            std::exchange(m_keyringWait, nullptr)->quit();
        if (m_reading && now >= m_readDue) {
            qInfo("[auth] the keyring hasn't answered yet: signed out until it does");
            settle();
        }
        armClock();
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
    m_readDue = m_clock->nowMs() + readTimeoutMs;
    armClock();
    m_keychain.read(tokenAccount, this, [this](const std::optional<QString> &token) { readEnded(token); });
}

void Session::readEnded(std::optional<QString> token)
{
    if (token && isVoid(*token)) {
        token.reset();
        // Unless a sign-in has queued its own token since: the delete would
        // land after that save.
        if (m_readMayDecide)
            m_keychain.remove(tokenAccount);
    } else if (token && m_settings->contains(savedSinceSignOutKey)) {
        // The keyring holds one item, and it is a token saved after the
        // last sign-out or sign-in: that one holds. (No answer proves
        // nothing: a failed read looks the same.)
        m_settings->remove(savedSinceSignOutKey);
        m_settings->sync();
    }
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

bool Session::isVoid(const QString &token)
{
    if (!protocol::isSessionToken(token.toUtf8())) {
        qInfo("[auth] the keyring's session token isn't one the service gives: deleted");
        return true;
    }
    // Unknown to this computer does not mean valid: a start whose read the
    // keyring left unanswered never saw the token it held, and a sign-out
    // then must end that one too.
    if (!m_settings->contains(savedSinceSignOutKey) ||
        m_settings->value(savedSinceSignOutKey).toStringList().contains(digest(token)))
        return false;
    qInfo("[auth] the keyring still held a token from before the last sign-out or sign-in: not used");
    return true;
}

void Session::noteEnding()
{
    m_ending = true;
    m_settings->setValue(savedSinceSignOutKey, QStringList());
    // On disk before anything else can happen: the app may be ended any
    // moment, with the keyring's delete still waiting.
    m_settings->sync();
}

void Session::noteSaved(const QString &token)
{
    if (m_ending || !m_settings->contains(savedSinceSignOutKey))
        return;
    QStringList saved = m_settings->value(savedSinceSignOutKey).toStringList();
    saved.append(digest(token));
    // The keyring keeps the last save that ended; the oldest are long
    // overwritten.
    if (saved.size() > maxSavedSinceSignOut)
        saved = saved.mid(saved.size() - maxSavedSinceSignOut);
    m_settings->setValue(savedSinceSignOutKey, saved);
    m_settings->sync();
}

void Session::settle()
{
    if (!m_reading)
        return;
    m_reading = false;
    armClock();
    Q_EMIT readingChanged();
    const auto held = std::exchange(m_held, {});
    for (const auto &[context, f] : held)
        if (context)
            f();
}

void Session::armClock()
{
    std::optional<qint64> due;
    if (m_reading)
        due = m_readDue;
    if (m_keyringWait && (!due || m_keyringWaitDue < *due))
        due = m_keyringWaitDue;
    if (due)
        m_clock->wakeAt(*due);
    else
        m_clock->cancelWake();
}

Session::KeyringWait Session::waitForKeyring(int timeoutMs)
{
    if (!m_keychain.isWriting())
        return KeyringWait::written;
    if (m_waitingForKeyring)
        return KeyringWait::withinAWait;
    m_waitingForKeyring = true;
    QEventLoop loop;
    m_keyringWait = &loop;
    m_keyringWaitDue = m_clock->nowMs() + timeoutMs;
    armClock();
    m_keychain.whenWritten(&loop, [&loop] { loop.quit(); });
    loop.exec();
    m_keyringWait = nullptr;
    m_waitingForKeyring = false;
    armClock();
    return m_keychain.isWriting() ? KeyringWait::timedOut : KeyringWait::written;
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
    m_ending = false;
    m_generationTokens.clear();
    if (token)
        m_generationTokens.insert(*token);
    setToken(token);
    Q_EMIT generationChanged();
}

void Session::begin(const QString &token)
{
    newGeneration(token);
    // Every token saved before this one is of an ended session, even one
    // this run never read: on disk before the save is asked, since the
    // keyring may never carry it out (stuck, or the app quits first).
    m_settings->setValue(savedSinceSignOutKey, QStringList{digest(token)});
    m_settings->sync();
    m_keychain.save(token, tokenAccount);
    settle();
}

void Session::end()
{
    noteEnding();
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
    noteSaved(token);
    m_keychain.save(token, tokenAccount);
}
