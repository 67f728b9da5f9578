#pragma once

#include <QWidget>

class QComboBox;
class ViewModeSetting;

namespace KeyboardShortcuts {
class Recorder;
class Registry;
} // namespace KeyboardShortcuts

// The General tab: the detail pane's default view mode (the one "viewMode"
// setting the main window and the menu also use, so a change anywhere shows
// everywhere at once) and the recorders of the two global shortcuts.
class GeneralSettings final : public QWidget
{
    Q_OBJECT

public:
    // `viewMode` and `shortcuts` are not owned and must outlive the tab;
    // without `shortcuts` the global shortcuts' section is left out.
    explicit GeneralSettings(ViewModeSetting *viewMode, KeyboardShortcuts::Registry *shortcuts,
                             QWidget *parent = nullptr);

    QComboBox *viewModePicker() const { return m_picker; }
    KeyboardShortcuts::Recorder *newDocumentRecorder() const { return m_newDocument; }
    KeyboardShortcuts::Recorder *toggleWindowRecorder() const { return m_toggleWindow; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showMode();

    ViewModeSetting *m_viewMode;
    QComboBox *m_picker;
    KeyboardShortcuts::Recorder *m_newDocument = nullptr;
    KeyboardShortcuts::Recorder *m_toggleWindow = nullptr;
};
