#pragma once

#include "shell/ContentView.h"

#include <QMainWindow>

#include <optional>

class AppCommands;
class AppServices;

// The single main window ("main"): the content view and the menu bar.
// Closing it only hides it; the application keeps running. It comes back
// with the size and place it had when last hidden (quitting closes it too),
// kept in the app's settings; the first time, or when that place is on no
// screen any more, at the default size, centred on the primary screen. Its
// whole frame, title bar included, lies within the screen's available
// area: a frame that would not is made smaller and moved in, both when it
// is restored and once the window manager has framed the window. On a
// screen too narrow for the sidebar beside the panes, the window is as
// narrow as the panes alone allow and the sidebar gives way.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    // On the app's `services` (not owned; must outlive the window) and their
    // settings. The content view takes `options`.
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
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showAbout();
    void restoreFrame();
    void saveFrame();
    // Gives the window the frame `frame` (now `current`, with `margins`
    // around its client area); nothing when they are the same.
    void placeFrame(const QRect &frame, const QRect &current, const QMargins &margins);
    void fitFramed();
    // Tells the content how wide the window can be on `screen` with the
    // manager's `margins` around it.
    void setRoom(const QScreen *screen, const QMargins &margins);
    // The same where the window is now.
    void updateRoom();

    AppSettings m_settings;
    ContentView *m_content;
    AppCommands *m_commands;
    // Where the frame was when the app hid the window: shown again, it
    // goes back there rather than where the window manager would place a
    // new window.
    std::optional<QPoint> m_hiddenAt;
    // The frame has been fitted to the screen with the manager's own
    // margins; later moves are the user's.
    bool m_fittedFramed = false;
    // The client area the window was given at start, before anyone else
    // could move it.
    QRect m_placed;
    // The manager's title bar and borders, once known.
    QMargins m_margins;
    bool m_watchesScreen = false;
    QMetaObject::Connection m_screenWatch;
};
