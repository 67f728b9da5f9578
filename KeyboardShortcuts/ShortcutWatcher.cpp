#include "KeyboardShortcuts/ShortcutWatcher.h"

#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QEvent>
#include <QWidget>

#include <memory>

namespace KeyboardShortcuts {

namespace {

class Watcher final : public QObject
{
public:
    Watcher(QWidget *view, Registry *registry, const Name &name, std::optional<EventType> type,
            std::function<void(EventType)> action)
        : QObject(view), m_registry(registry), m_name(name), m_type(type), m_action(std::move(action))
    {
        view->installEventFilter(this);
        if (view->isVisible())
            begin();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            begin();
        else if (event->type() == QEvent::Hide)
            m_stream.reset();
        return false;
    }

private:
    void begin()
    {
        if (m_stream)
            return;
        m_stream = m_registry->events(m_name, m_type);
        connect(m_stream.get(), &EventStream::occurred, this, m_action);
    }

    Registry *m_registry;
    Name m_name;
    std::optional<EventType> m_type;
    std::function<void(EventType)> m_action;
    std::unique_ptr<EventStream> m_stream;
};

} // namespace

void onKeyboardShortcut(QWidget *view, Registry *registry, const Name &name,
                        std::function<void(EventType)> action)
{
    new Watcher(view, registry, name, std::nullopt, std::move(action));
}

void onKeyboardShortcut(QWidget *view, Registry *registry, const Name &name, EventType type,
                        std::function<void()> action)
{
    new Watcher(view, registry, name, type, [action = std::move(action)](EventType) { action(); });
}

} // namespace KeyboardShortcuts
