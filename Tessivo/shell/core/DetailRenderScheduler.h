#pragma once

#include "editor/core/MarkdownRenderer.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

// Keeps the detail pane's preview HTML and counts in step with the shown
// document. A change of the document that the preview already shows renders
// 120 ms after the last change; a switch to another document renders at
// once. Rendering and counting run on the global thread pool; a newer request
// makes every older one drop its result, so the preview never goes back to
// older text, and stops the real renderer early, so that a superseded render
// never holds up the newest. Lives on the main thread.
class DetailRenderScheduler final : public QObject
{
    Q_OBJECT

public:
    struct Output
    {
        QString html;
        MarkdownRenderer::Stats stats;
    };
    // Runs off the main thread, several at once; must be pure.
    using RenderFunction = std::function<Output(const QString &body, const QHash<QString, QString> &titles)>;

    explicit DetailRenderScheduler(QObject *parent = nullptr);
    ~DetailRenderScheduler() override;

    // The renderer and counter used; MarkdownRenderer when never set.
    void setRenderFunction(RenderFunction render);
    static Output renderNow(const QString &body, const QHash<QString, QString> &titles);
    void setDelay(int milliseconds);
    int delay() const { return m_delay; }

    // Gives the shown document's text when a render starts; nullopt when
    // the document is gone.
    using BodySource = std::function<std::optional<QString>()>;
    // The shown document as it is now, named by a version that changes
    // whenever its text does (the document's updatedAt). The same id,
    // version and titles as the last request change nothing, so callers may
    // call this on every store change. Nothing holds the text between
    // requests: a store that edits its text in place would otherwise copy
    // all of it on the next key.
    void request(const QString &documentID, qint64 version, BodySource body,
                 const QHash<QString, QString> &titles);
    // Drops a pending or running render (the view went away).
    void cancel();
    // Whether anything shows the HTML (true at first). While nothing does, a
    // change only counts: the counts stay live, and the HTML of the newest
    // text is rendered at once when it is wanted again.
    void setHtmlWanted(bool wanted);
    // html() is of the newest requested text and titles.
    bool isHtmlCurrent() const { return m_hasKey && m_htmlRevision == m_keyRevision; }

    // What the preview shows, and whose document it is (empty before the
    // first render).
    const QString &html() const { return m_html; }
    MarkdownRenderer::Stats stats() const { return m_stats; }
    const QString &renderedDocumentID() const { return m_renderedDocumentID; }
    // A render is waiting for its delay or running.
    bool isBusy() const;
    // A render waits for the pause in typing to last its delay; ending the
    // pause now starts it (tests move time on with it instead of waiting).
    bool isWaitingForPause() const;
    void endPauseNow();

Q_SIGNALS:
    // html(), stats() and renderedDocumentID() were replaced by a render.
    void rendered();

private:
    void start();

    RenderFunction m_render;
    int m_delay = 120;
    QTimer *m_timer;
    quint64 m_generation = 0;
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
    int m_running = 0;
    bool m_htmlWanted = true;
    // The latest render started renders HTML, not only counts.
    bool m_startedWithHtml = false;
    // Counts the requests that changed the key; html() is of m_htmlRevision.
    quint64 m_keyRevision = 0;
    quint64 m_htmlRevision = 0;

    bool m_hasKey = false;
    QString m_keyID;
    qint64 m_keyVersion = 0;
    BodySource m_keyBody;
    QHash<QString, QString> m_keyTitles;

    QString m_html;
    MarkdownRenderer::Stats m_stats;
    QString m_renderedDocumentID;
};
