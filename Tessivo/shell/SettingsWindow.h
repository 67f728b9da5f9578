#pragma once

#include <QWidget>

#include <optional>

class AccountSettings;
class AuthManager;
class GeneralSettings;
class QTabWidget;
class SyncEngine;
class UpdateSettings;
class UpdaterController;
class ViewModeSetting;

namespace KeyboardShortcuts {
class Registry;
}

// The application's one settings window: the General, Account and Updates
// tabs in a 480-pixel-wide tab view whose height follows the shown tab.
// It opens over the main window, never off-screen, and Escape closes it
// (closing only hides it; the tab last shown stays selected). A failed
// sign-in brings it forward on the Account tab, where its message shows.
class SettingsWindow final : public QWidget
{
    Q_OBJECT

public:
    enum class Tab { general, account, updates };

    // What the tabs work on (none owned; each must outlive the window).
    struct Dependencies
    {
        AuthManager *auth = nullptr;          // required
        SyncEngine *sync = nullptr;           // required
        UpdaterController *updater = nullptr; // required
        ViewModeSetting *viewMode = nullptr;  // required
        // The General tab's shortcut recorders need it; none leaves them out.
        KeyboardShortcuts::Registry *shortcuts = nullptr;
    };

    // The tab view's width, unless a tab needs more.
    static constexpr int tabViewWidth = 480;
    static inline const QString identifier = QStringLiteral("settings");

    explicit SettingsWindow(const Dependencies &dependencies, QWidget *parent = nullptr);

    // Shows the window over the main window (where it is when already on
    // screen) and brings it to the front. With a tab, that tab is selected;
    // without, the window keeps the tab it last showed. The Account tab is
    // where the user signs in.
    void present(std::optional<Tab> tab = std::nullopt);

    Tab currentTab() const;
    void setCurrentTab(Tab tab);
    QTabWidget *tabs() const { return m_tabs; }
    GeneralSettings *general() const { return m_general; }
    AccountSettings *account() const { return m_account; }
    UpdateSettings *updates() const { return m_updates; }

    // Centres the window over `anchor` (over the screen when null), moved
    // as little as needed to lie wholly within the screen's available area.
    void placeOver(const QWidget *anchor);

Q_SIGNALS:
    // Quit was asked for from this window (its shortcut).
    void quitRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void fitToContent();
    void showTabIcons();

    QTabWidget *m_tabs;
    GeneralSettings *m_general;
    AccountSettings *m_account;
    UpdateSettings *m_updates;
    bool m_fitting = false;
};
