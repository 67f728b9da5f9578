#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class UpdaterController;

// The Updates tab: the automatic-check switch, a manual check and the
// application's version. The switch's value lives in the update framework;
// the tab reads it each time it comes on screen and writes the user's
// changes back. A build without an update feed says so, with both
// controls disabled.
class UpdateSettings final : public QWidget
{
    Q_OBJECT

public:
    // `updater` is not owned and must outlive the tab.
    explicit UpdateSettings(UpdaterController *updater, QWidget *parent = nullptr);

    QCheckBox *automaticSwitch() const { return m_automatic; }
    QPushButton *checkButton() const { return m_check; }
    QLabel *footer() const { return m_footer; }
    QLabel *version() const { return m_version; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    UpdaterController *m_updater;
    QCheckBox *m_automatic;
    QPushButton *m_check;
    QLabel *m_footer;
    QLabel *m_version;
};
