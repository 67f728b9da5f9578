#pragma once

#include <QObject>

class QAction;
class DocumentStore;
class QMenuBar;
class QWidget;

// The menu bar: File, Edit, View, Document and Help. Apart from "New
// Document" (which goes straight to the store) and the view modes (which
// write the "viewMode" setting), every command item posts an app-wide
// notification and the view that owns the action does the work.
class AppCommands final : public QObject
{
    Q_OBJECT

public:
    // Fills `menuBar`; `window` hosts the actions' shortcuts. "New Document"
    // creates its document in `store` (not owned, must outlive this).
    AppCommands(QMenuBar *menuBar, QWidget *window, DocumentStore *store);

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

// Posts `name` on the app-wide notification centre with no user info.
void postMenuNotification(const QString &name);
// Posts "zv.aiAssist" with the user info {"mode": mode}.
void postAIAssist(const QString &mode);
