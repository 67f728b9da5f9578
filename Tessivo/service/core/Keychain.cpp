#include "service/core/Keychain.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {

// Starts a QtKeychain job; `finished` sees it when it ends (failed or not),
// while it still exists. The job deletes itself afterwards.
void start(QKeychain::Job *job, std::function<void(QKeychain::Job *)> finished)
{
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // never a plain-text copy in the settings
    QObject::connect(job, &QKeychain::Job::finished, job, std::move(finished));
    job->start();
}

#ifdef TESSIVO_TESTING
// Test builds can hold the first read back, as a keyring waiting on its
// unlock prompt does.
int testReadDelayMs()
{
    static const int delay = qEnvironmentVariableIntValue("TESSIVO_TEST_KEYRING_READ_DELAY_MS");
    return delay;
}
#endif

} // namespace

struct Keychain::Writes
{
    QList<std::function<void(WriteDone)>> pending;
    bool running = false;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> waiters;
};

Keychain::Backend Keychain::secretService()
{
    const QString serviceName = QString::fromLatin1(service);
    return {
        [serviceName](const QString &account, ReadDone done) {
            const auto run = [serviceName, account, done = std::move(done)] {
                auto *job = new QKeychain::ReadPasswordJob(serviceName);
                job->setKey(account);
                start(job, [done](QKeychain::Job *ended) {
                    if (ended->error() != QKeychain::NoError)
                        done(std::nullopt);
                    else
                        done(static_cast<QKeychain::ReadPasswordJob *>(ended)->binaryData());
                });
            };
#ifdef TESSIVO_TESTING
            if (testReadDelayMs() > 0) {
                QTimer::singleShot(testReadDelayMs(), run);
                return;
            }
#endif
            run();
        },
        [serviceName](const QString &account, const QByteArray &value, WriteDone done) {
            auto *job = new QKeychain::WritePasswordJob(serviceName);
            job->setKey(account);
            // Text mode keeps the item's secret as the plain UTF-8 bytes.
            job->setTextData(QString::fromUtf8(value));
            start(job, [done = std::move(done)](QKeychain::Job *) { done(); });
        },
        [serviceName](const QString &account, WriteDone done) {
            auto *job = new QKeychain::DeletePasswordJob(serviceName);
            job->setKey(account);
            start(job, [done = std::move(done)](QKeychain::Job *) { done(); });
        },
    };
}

Keychain::Backend Keychain::inMemory()
{
    auto items = std::make_shared<QHash<QString, QByteArray>>();
    return {
        [items](const QString &account, ReadDone done) {
            const auto it = items->constFind(account);
            done(it == items->cend() ? std::nullopt : std::optional(*it));
        },
        [items](const QString &account, const QByteArray &value, WriteDone done) {
            items->insert(account, value);
            done();
        },
        [items](const QString &account, WriteDone done) {
            items->remove(account);
            done();
        },
    };
}

Keychain::Keychain(Backend backend) : m_backend(std::move(backend)), m_writes(std::make_shared<Writes>()) {}

void Keychain::read(const QString &account, QObject *context,
                    std::function<void(std::optional<QString>)> done) const
{
    const auto deliver = [context = QPointer<QObject>(context),
                          done = std::move(done)](const std::optional<QByteArray> &data) {
        if (!context)
            return;
        if (!data) {
            done(std::nullopt);
            return;
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString value = utf8.decode(*data);
        done(utf8.hasError() ? std::nullopt : std::optional(value));
    };
    if (m_backend.read)
        m_backend.read(account, deliver);
    else
        deliver(std::nullopt);
}

void Keychain::save(const QString &value, const QString &account)
{
    enqueue([backend = m_backend, account, bytes = value.toUtf8()](WriteDone done) {
        if (backend.save)
            backend.save(account, bytes, std::move(done));
        else
            done();
    });
}

void Keychain::remove(const QString &account)
{
    enqueue([backend = m_backend, account](WriteDone done) {
        if (backend.remove)
            backend.remove(account, std::move(done));
        else
            done();
    });
}

bool Keychain::isWriting() const
{
    return m_writes->running;
}

void Keychain::whenWritten(QObject *context, std::function<void()> done)
{
    if (!m_writes->running) {
        done();
        return;
    }
    m_writes->waiters.append({context, std::move(done)});
}

void Keychain::enqueue(std::function<void(WriteDone)> job)
{
    m_writes->pending.append(std::move(job));
    if (m_writes->running)
        return;
    m_writes->running = true;
    runWrites(m_writes);
}

void Keychain::runWrites(const std::shared_ptr<Writes> &writes)
{
    while (!writes->pending.isEmpty()) {
        const std::function<void(WriteDone)> job = writes->pending.takeFirst();
        // A job that ends before it returns (the in-memory backend) hands
        // back to this loop rather than recursing.
        enum Progress { running, endedAtOnce, returned };
        const auto progress = std::make_shared<Progress>(running);
        job([writes, progress] {
            if (*progress == running)
                *progress = endedAtOnce;
            else if (*progress == returned)
                runWrites(writes);
        });
        if (*progress == endedAtOnce)
            continue;
        *progress = returned;
        return;
    }
    writes->running = false;
    const auto waiters = std::exchange(writes->waiters, {});
    for (const auto &[context, callback] : waiters)
        if (context)
            callback();
}
