#pragma once

#include <QWidget>

// The settings window. Its tabs come later; for now it shows the version,
// whether this build can update itself, and the account controls.
class SettingsWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsWindow(QWidget *parent = nullptr);

protected:
    // The account record is refreshed whenever the window comes on screen.
    void showEvent(QShowEvent *event) override;
};
