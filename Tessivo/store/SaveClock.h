#pragma once

#include <QElapsedTimer>
#include <QObject>

class QTimer;

// The time base of the store's debounced saves: a monotonic reading in
// milliseconds and one wake-up call. The store runs on the steady clock;
// tests hand in a clock they advance by hand, so that a debounce is driven
// rather than waited for.
class SaveClock : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Milliseconds on a clock that never goes back.
    virtual qint64 nowMs() const = 0;
    // Emits woke() once nowMs() has reached `dueMs`; replaces any earlier
    // wake-up that has not come yet.
    virtual void wakeAt(qint64 dueMs) = 0;
    virtual void cancelWake() = 0;

Q_SIGNALS:
    void woke();
};

// Real time, woken by a precise single-shot timer, so that a save lands
// when its delay says.
class SteadySaveClock final : public SaveClock
{
    Q_OBJECT

public:
    explicit SteadySaveClock(QObject *parent = nullptr);

    qint64 nowMs() const override;
    void wakeAt(qint64 dueMs) override;
    void cancelWake() override;

private:
    QElapsedTimer m_elapsed;
    QTimer *m_timer = nullptr;
};
