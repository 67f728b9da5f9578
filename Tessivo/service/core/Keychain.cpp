#include "service/core/Keychain.h"

#include <QEventLoop>
#include <QHash>
#include <QStringDecoder>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <memory>

namespace {

// Runs a QtKeychain job to its end; false when it failed or took too long.
// `succeeded` sees the job while it still exists. The job deletes itself once
// finished, also when it outlives the wait.
bool runToEnd(QKeychain::Job *job, const std::function<void(QKeychain::Job *)> &succeeded = {})
{
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // never a plain-text copy in the settings
    bool finished = false;
    bool ok = false;
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *done) {
        finished = true;
        ok = done->error() == QKeychain::NoError;
        if (ok && succeeded)
            succeeded(done);
        loop.quit();
    });
    QTimer::singleShot(Keychain::jobTimeoutMs, &loop, &QEventLoop::quit);
    job->start();
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return finished && ok;
}

} // namespace

Keychain::Backend Keychain::secretService()
{
    const QString serviceName = QString::fromLatin1(service);
    return {
        [serviceName](const QString &account) -> std::optional<QByteArray> {
            auto *job = new QKeychain::ReadPasswordJob(serviceName);
            job->setKey(account);
            QByteArray data;
            const bool ok = runToEnd(job, [&data](QKeychain::Job *done) {
                data = static_cast<QKeychain::ReadPasswordJob *>(done)->binaryData();
            });
            return ok ? std::optional(data) : std::nullopt;
        },
        [serviceName](const QString &account, const QByteArray &value) {
            auto *job = new QKeychain::WritePasswordJob(serviceName);
            job->setKey(account);
            // Text mode keeps the item's secret as the plain UTF-8 bytes.
            job->setTextData(QString::fromUtf8(value));
            runToEnd(job);
        },
        [serviceName](const QString &account) {
            auto *job = new QKeychain::DeletePasswordJob(serviceName);
            job->setKey(account);
            runToEnd(job);
        },
    };
}

Keychain::Backend Keychain::inMemory()
{
    auto items = std::make_shared<QHash<QString, QByteArray>>();
    return {
        [items](const QString &account) -> std::optional<QByteArray> {
            const auto it = items->constFind(account);
            return it == items->cend() ? std::nullopt : std::optional(*it);
        },
        [items](const QString &account, const QByteArray &value) { items->insert(account, value); },
        [items](const QString &account) { items->remove(account); },
    };
}

Keychain::Keychain(Backend backend) : m_backend(std::move(backend)) {}

std::optional<QString> Keychain::read(const QString &account) const
{
    const std::optional<QByteArray> data = m_backend.read ? m_backend.read(account) : std::nullopt;
    if (!data)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString value = utf8.decode(*data);
    if (utf8.hasError())
        return std::nullopt;
    return value;
}

void Keychain::save(const QString &value, const QString &account)
{
    if (m_backend.save)
        m_backend.save(account, value.toUtf8());
}

void Keychain::remove(const QString &account)
{
    if (m_backend.remove)
        m_backend.remove(account);
}
