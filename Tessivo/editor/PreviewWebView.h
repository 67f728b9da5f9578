#pragma once

#include "editor/PreviewPage.h"

#include <QString>
#include <QWidget>

class DocumentStore;
class DropRoutingWebView;

// The live preview of the open document: a web view showing the preview page,
// fed with rendered HTML fragments.
//
// The page comes from the "Preview" folder installed with the application
// (resourceFolder()).
class PreviewWebView final : public QWidget
{
    Q_OBJECT

public:
    // Works on `store` (the shared store when null; not owned); its page
    // takes `strategies`.
    explicit PreviewWebView(QWidget *parent = nullptr, DocumentStore *store = nullptr,
                            PreviewPage::Strategies strategies = {});

    // Shows `html`; the page is not touched when it already shows it.
    void setHtml(const QString &html);
    QString html() const { return m_html; }

    PreviewPage *page() const { return m_page; }
    DropRoutingWebView *webView() const { return m_view; }

    // The folder holding the preview page, first of:
    //  1. the folder set with setResourceFolder();
    //  2. $TESSIVO_PREVIEW_DIR;
    //  3. "Preview" beside the executable (the build tree);
    //  4. "../share/tessivo/Preview" from the executable (an installed copy);
    //  5. "tessivo/Preview" in the system's data folders.
    // Only a folder that holds an "index.html" counts; empty when none does.
    static QString resourceFolder();
    static void setResourceFolder(const QString &folder);

protected:
    void changeEvent(QEvent *event) override;

private:
    void followPalette();

    DropRoutingWebView *m_view;
    PreviewPage *m_page;
    QString m_html;
};
