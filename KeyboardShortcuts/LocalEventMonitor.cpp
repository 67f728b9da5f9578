#include "KeyboardShortcuts/LocalEventMonitor.h"

#include <QCoreApplication>

#include <algorithm>

namespace KeyboardShortcuts {

LocalEventMonitor::LocalEventMonitor(std::initializer_list<QEvent::Type> types, Callback callback,
                                     QObject *parent)
    : QObject(parent), m_types(types), m_callback(std::move(callback))
{}

LocalEventMonitor *LocalEventMonitor::start()
{
    QCoreApplication::instance()->installEventFilter(this);
    return this;
}

bool LocalEventMonitor::eventFilter(QObject *watched, QEvent *event)
{
    if (std::find(m_types.begin(), m_types.end(), event->type()) == m_types.end())
        return false;
    return m_callback(watched, event);
}

} // namespace KeyboardShortcuts
