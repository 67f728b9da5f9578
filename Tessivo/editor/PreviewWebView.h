#pragma once

#include "editor/PreviewPage.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>

class DocumentStore;
class DropRoutingWebView;
class PreviewProfile;

// The live preview of the open document: a web view showing the preview page,
// fed with rendered HTML fragments.
//
// The page comes from the "Preview" folder installed with the application
// (resourceFolder()).
//
// Drawn in software (as the app draws it), the web engine starts only after
// this widget's first paint, or when its page or view is first asked for,
// so that the window shows without waiting for it; until then the area
// shows the window's own background, which the page, drawing none, shows
// through later.
class PreviewWebView final : public QWidget
{
    Q_OBJECT

public:
    // Its page runs in `profile`, works on `store` (neither owned; both
    // must outlive the view) and takes `strategies`.
    PreviewWebView(PreviewProfile *profile, DocumentStore *store, QWidget *parent = nullptr,
                   PreviewPage::Strategies strategies = {});

    // Shows `html`; the page is not touched when it already shows it and
    // keeps its place. Shown from the top, it is another document's.
    void setHtml(const QString &html, PreviewPage::Place place = PreviewPage::Place::kept);
    QString html() const { return m_html; }

    // Start the web engine when it has not started yet.
    PreviewPage *page();
    DropRoutingWebView *webView();
    bool hasStartedEngine() const { return m_view != nullptr; }

    // The folder holding the preview page, first of:
    //  1. the folder set with setResourceFolder();
    //  2. $TESSIVO_PREVIEW_DIR;
    //  3. "Preview" beside the executable (the build tree);
    //  4. "../share/tessivo/Preview" from the executable (an installed copy);
    //  5. "tessivo/Preview" in the system's data folders.
    // Only a folder that holds an "index.html" counts; empty when none does.
    static QString resourceFolder();
    static void setResourceFolder(const QString &folder);

Q_SIGNALS:
    // Files dropped onto the preview (see DropRoutingWebView).
    void filesDropped(const QList<QUrl> &urls);

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void startEngine();
    void followPalette();

    DropRoutingWebView *m_view = nullptr;
    PreviewPage *m_page = nullptr;
    PreviewPage::Strategies m_strategies;
    PreviewProfile *m_profile;
    DocumentStore *m_store;
    bool m_startQueued = false;
    QString m_html;
};
