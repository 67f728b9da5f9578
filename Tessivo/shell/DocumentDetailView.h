#pragma once

#include "editor/FileDrop.h"
#include "editor/core/MarkdownRenderer.h"
#include "protocol/WireRecords.h"
#include "publishing/MediaLibrarySheet.h"
#include "publishing/PublishSheet.h"
#include "shell/ExportActions.h"
#include "shell/core/DetailViewMode.h"
#include "shell/core/StandaloneHtml.h"
#include "store/TextRange.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class DetailRenderScheduler;
class DocumentStore;
class EmptyDetailView;
class HeaderIconButton;
class ImageLibrary;
class MarkdownTextView;
class PreviewWebView;
class PublishSplitButton;
class PublishToastHost;
class QSplitter;
class QStackedWidget;
class StatusBar;

class AppServices;

// How the detail pane reaches outside the app; empty parts use the
// platform's dialogs and message boxes, and the app's image library for the
// media sheet (dropped images need an uploader in `fileDrops`). At namespace
// scope so that it is complete where the pane's constructor defaults it.
struct DocumentDetailStrategies
{
    FileDropHandler::Strategies fileDrops;
    ExportActions::Strategies exports;
    // The library the media sheet shows (not owned); the services' when null.
    ImageLibrary *images = nullptr;
    // Asks to confirm a deletion: the dialog's title and message in, true to
    // delete. Empty: the app's confirmation box.
    using DeleteConfirmation = std::function<bool(const QString &title, const QString &message)>;
    DeleteConfirmation confirmDelete;
};

// The right-hand pane of the main window: the active document in the editor,
// the preview or both side by side under a header with the mode switch and
// the publish button, the counts below it, and the document commands that
// arrive as app notifications (publish, media library, delete).
//
// The preview and the counts follow the document: 120 ms after its last
// change, at once when another document is selected, rendered off the main
// thread. With the editor alone only the counts do; the HTML catches up when
// the preview shows again or an HTML export needs it.
class DocumentDetailView final : public QWidget
{
    Q_OBJECT

public:
    using Strategies = DocumentDetailStrategies;
    using DeleteConfirmation = DocumentDetailStrategies::DeleteConfirmation;

    // Works on the app's `services` (not owned; must outlive the pane): its
    // store and view mode, the client and session of the publish sheet, the
    // assistant and spelling of the editor, the previews' profile, the
    // notification bus, and the image library unless `strategies` names one.
    explicit DocumentDetailView(AppServices &services, Strategies strategies = {}, QWidget *parent = nullptr);
    ~DocumentDetailView() override;

    ViewMode mode() const;
    // Takes files dropped anywhere on the window into the pane's store and
    // its open document.
    FileDropHandler *fileDrop() const { return m_fileDrop; }
    void setMode(ViewMode mode);

    // The last rendered preview and counts, and whose document they are
    // (with the editor alone the HTML may be of older text).
    QString html() const;
    MarkdownRenderer::Stats stats() const;
    QString renderedDocumentID() const;

    // Inserts the image's Markdown into the active document: over the "![" that
    // asked for the media library when it is still there, else at the
    // editor's selection, else (no editor on the document) at the end.
    void insertMedia(const ImageAsset &asset);
    // Deletes the document that is active now.
    void deleteActiveDocument();
    // Saves the active document as a file of `format`, through a save dialog.
    void exportAs(ExportFormat format);
    // Puts the active document's Markdown on the clipboard.
    void copyMarkdown();

    // Parts, for the main window and tests.
    DetailRenderScheduler *renderScheduler() const { return m_renderer; }
    PreviewWebView *preview() const { return m_preview; }
    // The editor's side of the split (the editor and its find bar).
    QWidget *editorPane() const { return m_editorHolder; }
    MarkdownTextView *editor() const { return m_editor; }
    EmptyDetailView *emptyView() const { return m_empty; }
    StatusBar *statusBar() const { return m_statusBar; }
    PublishSplitButton *publishButton() const { return m_publishButton; }
    QList<HeaderIconButton *> modeButtons() const { return m_modeButtons; }
    QWidget *currentContent() const;
    QWidget *documentContent() const { return m_documentPage; }
    bool isMediaLibraryOpen() const { return m_mediaSheet != nullptr; }
    PublishSheet *publishSheet() const { return m_publishSheet; }
    std::optional<TextRange> mediaTrigger() const { return m_mediaTrigger; }

Q_SIGNALS:
    // The render task replaced html() and stats().
    void previewUpdated();
    // The publish sheet's "Sign In…": show the settings window's account tab.
    void accountSettingsRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    void buildHeader(QWidget *header);
    void refresh();
    void applyMode();
    void ensureEditor(const QString &documentID);
    void dropEditor();
    void requestRender();
    void showRendered();
    void openPublishSheet();
    void openMediaLibrary(std::optional<TextRange> trigger);
    void confirmDelete();

    DocumentStore *m_store;
    ViewModeSetting *m_viewMode;
    DetailRenderScheduler *m_renderer;
    // The document whose HTML the preview was last given.
    QString m_previewDocumentID;
    DeleteConfirmation m_confirmDelete;

    QList<HeaderIconButton *> m_modeButtons;
    QWidget *m_modeSwitcher = nullptr;
    PublishSplitButton *m_publishButton = nullptr;
    QStackedWidget *m_content = nullptr;
    QWidget *m_documentPage = nullptr;
    QWidget *m_blank = nullptr;
    EmptyDetailView *m_empty = nullptr;
    QSplitter *m_splitter = nullptr;
    QWidget *m_editorHolder = nullptr;
    MarkdownTextView *m_editor = nullptr;
    FileDropHandler *m_fileDrop;
    ExportActions::Strategies m_exports;
    PreviewWebView *m_preview = nullptr;
    StatusBar *m_statusBar = nullptr;
    PublishToastHost *m_toastHost = nullptr;
    QPointer<MediaLibrarySheet> m_mediaSheet;
    QPointer<PublishSheet> m_publishSheet;
    AppServices *m_services;
    ImageLibrary *m_imageLibrary;
    std::optional<TextRange> m_mediaTrigger;
    QString m_shownDocumentID;
    bool m_splitPlaced = false;
};
