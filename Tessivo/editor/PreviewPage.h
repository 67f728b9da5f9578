#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>

#include <functional>
#include <optional>

class DocumentStore;
class PreviewProfile;

// The preview page and its navigation policy. The page (index.html of the
// "Preview" folder) is loaded once; every later update replaces its content
// instead of loading anything: the first through window.__setContent with
// the whole fragment, later ones through window.__patchContent with the part
// that changed since the last (the whole fragment again should the page not
// hold the last). Content set before the page has loaded waits for it, and
// content equal to what the page already shows is not sent again.
//
// Links: wiki links select an existing document or offer to create a missing
// one; http, https and mailto links open in the default application; links
// to a place in the page scroll there; nothing navigates the page away, and
// the page's profile (PreviewProfile) refuses every request that would
// reach the network, except images from the web service's own address.
class PreviewPage final : public QWebEnginePage
{
    Q_OBJECT

public:
    using ExternalOpener = std::function<void(const QUrl &url)>;
    // Asked when a link names a document that does not exist: true creates it.
    using MissingDocumentPrompt = std::function<bool(const QString &title)>;
    // Either left empty takes the default: the opener hands URLs to the
    // desktop; the prompt is a modal alert.
    struct Strategies
    {
        ExternalOpener externalOpener;
        MissingDocumentPrompt missingDocumentPrompt;
    };

    // Runs in `profile` and works on `store` (neither owned; both must
    // outlive the page).
    PreviewPage(PreviewProfile *profile, DocumentStore *store, QObject *parent = nullptr);
    PreviewPage(PreviewProfile *profile, DocumentStore *store, Strategies strategies,
                QObject *parent = nullptr);

    // Loads the page from `folder` (its "index.html"); nothing is loaded when
    // the folder holds no page, and the preview then stays empty.
    void loadFrom(const QString &folder);
    QUrl pageUrl() const { return m_pageUrl; }

    // Where the view stands after an update: the reader's place in the same
    // document, or the top of another one.
    enum class Place { kept, top };

    // Shows `html`, the rendered fragment of the open document.
    void update(const QString &html, Place place = Place::kept);

    // Light or dark text for the window's palette. The page follows the
    // system's preference until told.
    void setDarkAppearance(bool dark);

    bool isLoaded() const { return m_loaded; }
    std::optional<QString> pending() const { return m_pending; }
    std::optional<QString> lastSent() const { return m_last; }

    // What a click on a wiki link does: select the document when it is live;
    // offer to create a missing one (in the active document's collection).
    void openDocumentLink(const QString &id);
    void openMissingDocumentLink(const QString &title);

    // The user clicked or pressed a key in the view showing this page (the
    // view reports it): a link navigation that follows is the user's.
    void noteUserInput();

Q_SIGNALS:
    // The page was asked to show `html` (one script call).
    void contentSent(const QString &html);
    // A navigation away from the page was stopped (links handled by the
    // application included).
    void navigationRefused(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;

private:
    void pageLoadFinished(bool ok);
    void handleLinkClick(const QUrl &url);
    void send(const QString &html);
    void sendWhole(const QString &html, quint64 version, Place place = Place::kept);
    void applyAppearance();
    bool followsUserInput() const;

    DocumentStore *m_store;
    QUrl m_pageUrl;
    bool m_loaded = false;
    std::optional<QString> m_pending;
    Place m_pendingPlace = Place::kept;
    std::optional<QString> m_last;
    // Each content sent gets the next version; the page applies a change
    // only to the version it was made against.
    quint64 m_version = 0;
    quint64 m_wholeVersion = 0;
    ExternalOpener m_opener;
    MissingDocumentPrompt m_prompt;
    QElapsedTimer m_lastUserInput;
    std::optional<bool> m_dark;
};
