#pragma once

#include <QObject>

class AppServices;
class QAction;
class QMenuBar;
class QWidget;

// The menu bar: File, Edit, View, Document and Help. Apart from "New
// Document" (which goes straight to the store), the view modes (which
// write the "viewMode" setting) and "Check for Updates…", every command
// item posts on the app's notification bus and the view that owns the
// action does the work.
class AppCommands final : public QObject
{
    Q_OBJECT

public:
    // Fills `menuBar`; `window` hosts the actions' shortcuts. The commands
    // work on the app's `services` (not owned, must outlive this).
    AppCommands(QMenuBar *menuBar, QWidget *window, AppServices &services);

    // Every item by its title (separators excluded), for tests and callers
    // that want to trigger a command.
    QAction *action(const QString &title) const;
    QList<QAction *> actions() const;

Q_SIGNALS:
    void settingsRequested();
    void aboutRequested();
    void quitRequested();

private:
    QAction *add(class QMenu *menu, const QString &title, const QString &shortcut = {});

    QList<QAction *> m_actions;
};
// Posts "zv.aiAssist" with the user info {"mode": mode}.
void postAIAssist(const QString &mode);
