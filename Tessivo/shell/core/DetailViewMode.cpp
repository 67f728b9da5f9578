#include "shell/core/DetailViewMode.h"

using namespace Qt::StringLiterals;

namespace ViewModes {

const QList<ViewMode> &all()
{
    static const QList<ViewMode> modes{ViewMode::editor, ViewMode::split, ViewMode::preview};
    return modes;
}

QString rawValue(ViewMode mode)
{
    switch (mode) {
    case ViewMode::editor:
        return u"editor"_s;
    case ViewMode::split:
        return u"split"_s;
    case ViewMode::preview:
        return u"preview"_s;
    }
    return u"split"_s;
}

ViewMode fromRaw(const QString &raw)
{
    for (ViewMode mode : all()) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return ViewMode::split;
}

} // namespace ViewModes

ViewModeSetting::ViewModeSetting(QSettings *settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    m_lastRaw = raw();
}

QString ViewModeSetting::raw() const
{
    return m_settings.viewMode();
}

ViewMode ViewModeSetting::mode() const
{
    return ViewModes::fromRaw(raw());
}

void ViewModeSetting::setMode(ViewMode mode)
{
    m_settings.setViewMode(ViewModes::rawValue(mode));
    refresh();
}

void ViewModeSetting::refresh()
{
    const QString current = raw();
    if (current == m_lastRaw)
        return;
    const ViewMode before = ViewModes::fromRaw(m_lastRaw);
    m_lastRaw = current;
    if (ViewModes::fromRaw(current) != before)
        Q_EMIT modeChanged(ViewModes::fromRaw(current));
}
