#pragma once

#include <QWidget>

// The settings window. Its tabs come later; for now it shows the version and
// whether this build can update itself.
class SettingsWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsWindow(QWidget *parent = nullptr);
};
