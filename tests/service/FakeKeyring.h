#pragma once

#include "service/core/Keychain.h"

#include <QHash>
#include <QList>
#include <QTimer>

#include <functional>
#include <memory>

// A keyring that answers like the Secret Service does: never at once. Each
// job ends on a later turn of the event loop (nextTurn), when the test
// releases it (held: a keyring waiting on its unlock prompt), or never.
// Jobs end in the order they were started; the items are shared by every
// copy of the backend.
class FakeKeyring
{
public:
    enum class Answers { nextTurn, held, never };

    Answers answers = Answers::nextTurn;

    Keychain::Backend backend()
    {
        const std::shared_ptr<State> state = m_state;
        const auto answers = [this] { return this->answers; };
        return {
            [state, answers](const QString &account, Keychain::ReadDone done) {
                schedule(state, answers(), [state, account, done] {
                    const auto it = state->items.constFind(account);
                    done(it == state->items.cend() ? std::nullopt : std::optional(*it));
                });
            },
            [state, answers](const QString &account, const QByteArray &value, Keychain::WriteDone done) {
                ++state->writesStarted;
                schedule(state, answers(), [state, account, value, done] {
                    state->items.insert(account, value);
                    done();
                });
            },
            [state, answers](const QString &account, Keychain::WriteDone done) {
                ++state->writesStarted;
                schedule(state, answers(), [state, account, done] {
                    state->items.remove(account);
                    done();
                });
            },
        };
    }

    // Ends every held job, in order.
    void release()
    {
        while (!m_state->held.isEmpty())
            m_state->held.takeFirst()();
    }
    qsizetype heldJobs() const { return m_state->held.size(); }
    int writesStarted() const { return m_state->writesStarted; }

    // The item as stored now, bypassing the jobs.
    std::optional<QString> item(const QString &account = QStringLiteral("session-token")) const
    {
        const auto it = m_state->items.constFind(account);
        return it == m_state->items.cend() ? std::nullopt : std::optional(QString::fromUtf8(*it));
    }
    void put(const QString &value, const QString &account = QStringLiteral("session-token"))
    {
        m_state->items.insert(account, value.toUtf8());
    }

private:
    struct State
    {
        QHash<QString, QByteArray> items;
        QList<std::function<void()>> held;
        int writesStarted = 0;
    };

    static void schedule(const std::shared_ptr<State> &state, Answers answers, std::function<void()> job)
    {
        switch (answers) {
        case Answers::nextTurn:
            QTimer::singleShot(0, std::move(job));
            return;
        case Answers::held:
            state->held.append(std::move(job));
            return;
        case Answers::never:
            return;
        }
    }

    std::shared_ptr<State> m_state = std::make_shared<State>();
};
