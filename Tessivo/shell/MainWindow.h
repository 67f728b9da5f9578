#pragma once

#include "shell/ContentView.h"

#include <QMainWindow>

#include <optional>

class AppCommands;
class AppServices;

// The single main window ("main"): the content view and the menu bar.
// Closing it only hides it; the application keeps running.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    // On the app's `services` (not owned; must outlive the window). The
    // content view takes `options`.
    explicit MainWindow(AppServices &services, ContentView::Options options = {}, QWidget *parent = nullptr);

    ContentView *contentView() const { return m_content; }
    AppCommands *commands() const { return m_commands; }

    // Identifier of the main window; AppDelegate finds the window by its prefix.
    static inline const QString identifier = QStringLiteral("main");
    static constexpr int defaultWidth = 1200;
    static constexpr int defaultHeight = 780;

Q_SIGNALS:
    void settingsRequested();
    void quitRequested();

protected:
    void hideEvent(QHideEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void showAbout();

    ContentView *m_content;
    AppCommands *m_commands;
    // Where the frame was when the app hid the window: shown again, it
    // goes back there rather than where the window manager would place a
    // new window.
    std::optional<QPoint> m_hiddenAt;
};
