#pragma once

#include "sidebar/SidebarDialogs.h"
#include "sidebar/SidebarListView.h"

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

class AccountRow;
class AppNotifications;
class AuthManager;
class CreateSplitButton;
class DocumentStore;
class QNetworkAccessManager;
class QSettings;
class SidebarIconButton;
class SidebarModel;
class SyncEngine;
class SyncStatusRow;

// The left pane of the main window: the product mark and create buttons,
// the scrolling tree of collections and documents, and the sync status and
// account rows. It keeps only view state; every change to documents or
// collections goes to the store through its SidebarModel.
class SidebarView final : public QWidget
{
    Q_OBJECT

public:
    // Chooses files to import; an empty list when the user cancels.
    using FilePicker =
        std::function<QList<QUrl>(QWidget *parent, const QString &message, const QStringList &nameFilters)>;

    // Either left empty takes the default (the platform's dialog, a real
    // drag, QMenu::exec).
    struct Strategies
    {
        FilePicker pickFiles;
        SidebarListView::Strategies list;
    };

    // What the sidebar works with besides its store; none is owned and each
    // must outlive the sidebar.
    struct Services
    {
        // The app's notification bus (required): the palette button posts
        // on it, "New Collection" arrives on it.
        AppNotifications *notifications = nullptr;
        // Either may be null, which shows the signed-out footer.
        AuthManager *auth = nullptr;
        SyncEngine *sync = nullptr;
        // Loads the account's picture (the API client's network access;
        // the request carries none of the client's headers). Null: only
        // the initial shows.
        QNetworkAccessManager *network = nullptr;
    };

    SidebarView(DocumentStore *store, QSettings *settings, const Services &services,
                QWidget *parent = nullptr);
    SidebarView(DocumentStore *store, QSettings *settings, const Services &services, Strategies strategies,
                QWidget *parent = nullptr);
    ~SidebarView() override;

    SidebarModel *model() const { return m_model; }
    SidebarListView *listView() const { return m_list; }
    CreateSplitButton *createButton() const { return m_create; }
    SidebarIconButton *paletteButton() const { return m_palette; }
    SyncStatusRow *syncStatusRow() const { return m_status; }
    AccountRow *accountRow() const { return m_account; }

    // The New Collection prompt for a top-level collection with nothing to move.
    void beginNewCollection();
    // The Open File dialog: Markdown and text files become documents.
    void openMarkdownFiles();

    // Where the service lives: the blog link, the user's site and the
    // status tooltip follow it.
    void setServiceBaseURL(const QUrl &url);

    // The prompt or confirmation on screen, if any.
    SidebarPrompt *activePrompt() const { return m_prompt; }
    QMessageBox *activeConfirmation() const { return m_confirmation; }

    // The chosen files whose extension, in any case, is a Markdown or text
    // extension, in the order chosen.
    static QList<QUrl> markdownFiles(const QList<QUrl> &chosen);
    // The dialog's filter of Markdown and text files.
    static QStringList nameFilters();

    QSize sizeHint() const override { return {260, 700}; }

Q_SIGNALS:
    // The account row was clicked (the shell opens its settings window).
    void settingsRequested();
    // Markdown files were chosen to become documents.
    void importRequested(const QList<QUrl> &files);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void build(DocumentStore *store, QSettings *settings, const Services &services, Strategies strategies);
    void showNewCollectionPrompt(bool shown);
    void showRenamePrompt();
    void showDeleteCollection();
    void showDeleteDocument();
    SidebarPrompt *openPrompt(const QString &role, const QString &title, const QString &message,
                              const QString &acceptText, const QString &text);
    void closePrompt();
    void closeConfirmation(const QString &next);

    SidebarModel *m_model = nullptr;
    SidebarListView *m_list = nullptr;
    CreateSplitButton *m_create = nullptr;
    SidebarIconButton *m_palette = nullptr;
    SyncStatusRow *m_status = nullptr;
    AccountRow *m_account = nullptr;
    QPointer<AuthManager> m_auth;
    QPointer<SidebarPrompt> m_prompt;
    QPointer<QMessageBox> m_confirmation;
    FilePicker m_filePicker;
    QUrl m_serviceBaseURL;
};
