#pragma once

#include <QEvent>
#include <QObject>

#include <functional>
#include <initializer_list>
#include <vector>

namespace KeyboardShortcuts {

// Watches the events the application itself dispatches, of the given types,
// before their receivers see them; the callback swallows one by returning
// true. Watching starts with start() and ends with the monitor.
class LocalEventMonitor final : public QObject
{
    Q_OBJECT

public:
    using Callback = std::function<bool(QObject *receiver, QEvent *event)>;

    LocalEventMonitor(std::initializer_list<QEvent::Type> types, Callback callback,
                      QObject *parent = nullptr);

    LocalEventMonitor *start();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::vector<QEvent::Type> m_types;
    Callback m_callback;
};

} // namespace KeyboardShortcuts
