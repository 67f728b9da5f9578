#pragma once

#include "app/core/AppSettings.h"
#include "shell/DocumentDetailView.h"
#include "shell/core/StartupSequence.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class AppServices;
class CommandPaletteView;
class DocumentDetailView;
class DocumentStore;
class IconButton;
class PaletteOverlay;
class QVariantAnimation;
class QSettings;
class PaneChrome;

// The main window's content: the sidebar beside the document detail pane on
// a backdrop, the sidebar toggle, the command palette overlay, drops of files
// anywhere on the window, and the application's start-up task (load the
// store, start sync, refresh the session, sync), started when first shown.
class ContentView final : public QWidget
{
    Q_OBJECT

public:
    // What a caller may hand in instead of the defaults.
    struct Options
    {
        // Run when the view is first shown; by default it loads the store,
        // then starts the services' sync engine and session.
        std::optional<StartupSequence::Steps> startupSteps;
        DocumentDetailView::Strategies detail;
    };

    // Works on the app's `services` (not owned; must outlive the view).
    // `settings` holds "sidebarVisible" (the application's default settings
    // when null; not owned).
    ContentView(AppServices &services, QSettings *settings, Options options = {}, QWidget *parent = nullptr);
    ~ContentView() override;

    // The user's choice, kept across runs.
    bool sidebarVisible() const { return m_sidebarVisible; }
    // Whether the sidebar shows: beside the detail pane as the user chose
    // while there is room for both, else over the pane's leading edge
    // while the user has opened it there.
    bool sidebarShown() const { return m_sidebarBeside ? m_sidebarVisible : m_sidebarOver; }
    bool sidebarBeside() const { return m_sidebarBeside; }
    bool paletteOpen() const { return m_paletteOpen; }
    CommandPaletteView *commandPalette() const;
    QWidget *sidebarPane() const { return m_sidebarPane; }
    QWidget *detailPane() const { return m_detailPane; }
    IconButton *sidebarToggle() const { return m_toggle; }

    // Flips the sidebar (animated) and stores the choice under "sidebarVisible";
    // while there is no room beside the detail pane, opens or closes it over
    // the pane instead, storing nothing.
    void toggleSidebar();
    // The widest the view can be where its window is (the screen's free
    // width less the window manager's borders); unlimited until set.
    void setAvailableWidth(int width);
    // Opens or closes the command palette.
    void togglePalette();
    void setPaletteOpen(bool open);

    // Whether the start-up task ran to its end.
    bool isStartupFinished() const;

    static constexpr int sidebarWidth = 260;
    // The least the window may be: 760 × 480, wider when the shown sidebar
    // and the detail pane's own minimum (two 320-wide panes in split view)
    // need more, so that no pane is ever cut or drawn over another. Where
    // the screen is too narrow for that, the sidebar gives way: it no
    // longer sits beside the pane, and the least is the pane's own.
    static constexpr int minimumContentWidth = 760;
    static constexpr int minimumContentHeight = 480;

Q_SIGNALS:
    void sidebarVisibleChanged(bool visible);
    void paletteOpenChanged(bool open);
    void startupFinished();
    // The sidebar's account row asks for the settings window.
    void settingsRequested();
    // A view asks for the settings window's account tab (to sign in).
    void accountSettingsRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void layoutPanes();
    void updateMinimumWidth();
    // Whether the sidebar can sit beside the detail pane in the width available.
    bool roomBeside() const;
    // The sidebar's place follows the room there is.
    void updateBeside();
    void animateSidebar();
    void updateToggleHelp();
    QWidget *makeSidebar();
    QWidget *makeDetail();

    Options m_options;
    AppServices *m_services;
    DocumentStore *m_store;
    AppSettings m_settings;
    bool m_sidebarVisible = true;
    bool m_paletteOpen = false;
    int m_availableWidth = QWIDGETSIZE_MAX;
    bool m_sidebarBeside = true;
    // Opened over the detail pane while there is no room beside it.
    bool m_sidebarOver = false;
    // 1 with the sidebar shown, 0 hidden; animated between.
    qreal m_sidebarFraction = 1.0;
    QVariantAnimation *m_sidebarAnimation;
    QWidget *m_sidebarPane;
    QWidget *m_sidebarContent;
    QWidget *m_detailPane;
    DocumentDetailView *m_detail = nullptr;
    PaneChrome *m_chrome;
    IconButton *m_toggle;
    QPointer<PaletteOverlay> m_overlay;
    // Where the keyboard was when the palette opened; it goes back there.
    QPointer<QWidget> m_focusBeforePalette;
    // The document open when the palette opened: another one open when it
    // closes was chosen in it.
    QString m_documentBeforePalette;
    StartupSequence *m_startup = nullptr;
};
