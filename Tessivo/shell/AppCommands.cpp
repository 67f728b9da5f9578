#include "shell/AppCommands.h"

#include "app/core/AppNotifications.h"
#include "app/core/AppShortcuts.h"
#include "editor/UndoNames.h"
#include "shell/AppServices.h"
#include "shell/core/DetailViewMode.h"
#include "shell/core/UpdaterController.h"
#include "store/DocumentStore.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

// Edit commands go to whichever widget has the keyboard focus: the preview
// through its page's editing actions (the keyboard sits in a child of the
// web view), Qt's text widgets by the slot names they share.
void sendToFocus(const char *slot, QWebEnginePage::WebAction pageAction)
{
    QWidget *focus = QApplication::focusWidget();
    for (QWidget *w = focus; w; w = w->parentWidget()) {
        if (auto *web = qobject_cast<QWebEngineView *>(w)) {
            web->triggerPageAction(pageAction);
            return;
        }
        if (w->isWindow())
            break;
    }
    const QByteArray signature = QByteArray(slot) + "()";
    if (focus && focus->metaObject()->indexOfMethod(signature.constData()) >= 0)
        QMetaObject::invokeMethod(focus, slot);
}

// The text document of the focused text widget, if the focus is in one.
const QTextDocument *focusedDocument()
{
    QWidget *focus = QApplication::focusWidget();
    if (auto *plain = qobject_cast<QPlainTextEdit *>(focus))
        return plain->document();
    if (auto *rich = qobject_cast<QTextEdit *>(focus))
        return rich->document();
    return nullptr;
}

} // namespace

AppCommands::AppCommands(QMenuBar *menuBar, QWidget *window, AppServices &services) : QObject(menuBar)
{
    Q_UNUSED(window);
    DocumentStore *store = services.store();
    AppNotifications *notifications = services.notifications();
    const auto postAIAssist = [notifications](const QString &mode) {
        notifications->post(AppNotifications::aiAssist, {{AppNotifications::modeKey, mode}});
    };
    QMenu *file = menuBar->addMenu(QStringLiteral("&File"));
    connect(add(file, QStringLiteral("New Document"), AppShortcuts::newDocument), &QAction::triggered, this,
            [store] { store->createDocument(std::nullopt, QString()); });
    connect(add(file, QStringLiteral("New Collection\u2026"), AppShortcuts::newCollection),
            &QAction::triggered, this,
            [notifications] { notifications->post(AppNotifications::newCollection); });
    file->addSeparator();
    connect(add(file, QStringLiteral("Settings\u2026"), AppShortcuts::settings), &QAction::triggered, this,
            &AppCommands::settingsRequested);
    file->addSeparator();
    QAction *quit = add(file, QStringLiteral("Quit Tessivo"), AppShortcuts::quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, &AppCommands::quitRequested);

    QMenu *edit = menuBar->addMenu(QStringLiteral("&Edit"));
    const struct
    {
        const char *title;
        QKeySequence::StandardKey key;
        const char *slot;
        QWebEnginePage::WebAction pageAction;
    } editItems[] = {
        {"Undo", QKeySequence::Undo, "undo", QWebEnginePage::Undo},
        {"Redo", QKeySequence::Redo, "redo", QWebEnginePage::Redo},
        {nullptr, QKeySequence::UnknownKey, nullptr, QWebEnginePage::NoWebAction},
        {"Cut", QKeySequence::Cut, "cut", QWebEnginePage::Cut},
        {"Copy", QKeySequence::Copy, "copy", QWebEnginePage::Copy},
        {"Paste", QKeySequence::Paste, "paste", QWebEnginePage::Paste},
        {"Select All", QKeySequence::SelectAll, "selectAll", QWebEnginePage::SelectAll},
    };
    for (const auto &item : editItems) {
        if (!item.title) {
            edit->addSeparator();
            continue;
        }
        QAction *action = add(edit, QString::fromLatin1(item.title));
        // Shown for reference; the focused text widget handles the keys itself.
        action->setShortcuts(QKeySequence::keyBindings(item.key));
        action->setShortcutContext(Qt::WidgetShortcut);
        const char *slot = item.slot;
        const QWebEnginePage::WebAction pageAction = item.pageAction;
        connect(action, &QAction::triggered, this, [slot, pageAction] { sendToFocus(slot, pageAction); });
        if (pageAction == QWebEnginePage::Undo || pageAction == QWebEnginePage::Redo) {
            // "Undo AI Rewrite": the step's name, where the editor keeps one.
            const bool undo = pageAction == QWebEnginePage::Undo;
            connect(edit, &QMenu::aboutToShow, action, [action, undo] {
                const QTextDocument *document = focusedDocument();
                action->setText(undo ? UndoNames::undoText(document) : UndoNames::redoText(document));
            });
        }
    }

    QMenu *view = menuBar->addMenu(QStringLiteral("&View"));
    connect(add(view, QStringLiteral("Command Palette"), AppShortcuts::commandPalette), &QAction::triggered,
            this, [notifications] { notifications->post(AppNotifications::toggleCommandPalette); });
    connect(add(view, QStringLiteral("Toggle Sidebar"), AppShortcuts::toggleSidebar), &QAction::triggered,
            this, [notifications] { notifications->post(AppNotifications::toggleSidebar); });
    view->addSeparator();
    const QList<ViewMode> &modes = ViewModes::all();
    for (int i = 0; i < modes.size(); ++i) {
        const ViewMode mode = modes[i];
        QString title = ViewModes::rawValue(mode);
        title[0] = title[0].toUpper();
        connect(add(view, title, AppShortcuts::viewMode(i)), &QAction::triggered, this,
                [viewMode = services.viewMode(), mode] { viewMode->setMode(mode); });
    }
    view->addSeparator();

    QMenu *document = menuBar->addMenu(QStringLiteral("&Document"));
    connect(add(document, QStringLiteral("Publish\u2026"), AppShortcuts::publishDocument),
            &QAction::triggered, this,
            [notifications] { notifications->post(AppNotifications::publishDocument); });
    connect(add(document, QStringLiteral("Insert Image from Library\u2026"), AppShortcuts::insertImage),
            &QAction::triggered, this,
            [notifications] { notifications->post(AppNotifications::openMediaLibrary); });
    document->addSeparator();
    connect(add(document, QStringLiteral("AI Assistant\u2026"), AppShortcuts::aiAssistant),
            &QAction::triggered, this, [notifications] { notifications->post(AppNotifications::aiAssist); });
    connect(add(document, QStringLiteral("Refine Selection with AI\u2026")), &QAction::triggered, this,
            [postAIAssist] { postAIAssist(AppNotifications::refineMode); });
    connect(add(document, QStringLiteral("Generate with AI\u2026")), &QAction::triggered, this,
            [postAIAssist] { postAIAssist(AppNotifications::generateMode); });
    document->addSeparator();
    connect(add(document, QStringLiteral("Delete Document"), AppShortcuts::deleteDocument),
            &QAction::triggered, this,
            [notifications] { notifications->post(AppNotifications::deleteDocument); });

    QMenu *help = menuBar->addMenu(QStringLiteral("&Help"));
    QAction *about = add(help, QStringLiteral("About Tessivo"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &AppCommands::aboutRequested);
    // Bound to the updater: enabled exactly while it can check.
    UpdaterController *updater = services.updater();
    QAction *check = add(help, QStringLiteral("Check for Updates\u2026"));
    check->setEnabled(updater->canCheckForUpdates());
    connect(updater, &UpdaterController::canCheckForUpdatesChanged, check,
            [check, updater] { check->setEnabled(updater->canCheckForUpdates()); });
    connect(check, &QAction::triggered, updater, &UpdaterController::checkForUpdates);
}

QAction *AppCommands::add(QMenu *menu, const QString &title, const QString &shortcut)
{
    QAction *action = menu->addAction(title);
    if (!shortcut.isEmpty()) {
        action->setShortcut(QKeySequence(shortcut, QKeySequence::PortableText));
        // The window's shortcuts work wherever the focus is inside it.
        action->setShortcutContext(Qt::WindowShortcut);
    }
    m_actions.append(action);
    return action;
}

QAction *AppCommands::action(const QString &title) const
{
    for (QAction *a : m_actions)
        if (a->text() == title)
            return a;
    return nullptr;
}

QList<QAction *> AppCommands::actions() const
{
    return m_actions;
}
