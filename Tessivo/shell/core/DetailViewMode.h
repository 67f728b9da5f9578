#pragma once

#include "app/core/AppSettings.h"

#include <QList>
#include <QObject>
#include <QString>

class QSettings;

// How the detail pane shows the open document. Stored as its raw value under
// AppSettings::viewModeKey; any other stored value reads as split.
enum class ViewMode { editor, split, preview };

namespace ViewModes {

// Every case, in declaration order.
const QList<ViewMode> &all();
QString rawValue(ViewMode mode);
// Unknown and empty values read as split.
ViewMode fromRaw(const QString &raw);

} // namespace ViewModes

// The one place that reads and writes the view mode and tells every reader when
// it changed: the detail pane, the menu, the command palette and the settings
// window all go through it, so a change made in one shows in the others.
// Lives on the main thread.
class ViewModeSetting final : public QObject
{
    Q_OBJECT

public:
    // Backed by `settings` (not owned; must outlive this object); the
    // default settings when null.
    explicit ViewModeSetting(QSettings *settings = nullptr, QObject *parent = nullptr);

    ViewMode mode() const;
    QString raw() const;
    // Writes the raw value; emits modeChanged when the stored value changed.
    void setMode(ViewMode mode);
    // Picks up a value written to the settings by someone who did not go
    // through this object; emits modeChanged when it differs from the last
    // value seen.
    void refresh();

Q_SIGNALS:
    void modeChanged(ViewMode mode);

private:
    AppSettings m_settings;
    QString m_lastRaw;
};
