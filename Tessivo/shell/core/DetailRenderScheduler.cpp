#include "shell/core/DetailRenderScheduler.h"

#include "app/core/AllocatorPolicy.h"

#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

DetailRenderScheduler::DetailRenderScheduler(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &DetailRenderScheduler::start);
}

DetailRenderScheduler::~DetailRenderScheduler() = default;

DetailRenderScheduler::Output DetailRenderScheduler::renderNow(const QString &body,
                                                               const QHash<QString, QString> &titles)
{
    return Output{MarkdownRenderer::render(body, titles), MarkdownRenderer::stats(body)};
}

void DetailRenderScheduler::setRenderFunction(RenderFunction render)
{
    m_render = std::move(render);
}

void DetailRenderScheduler::setDelay(int milliseconds)
{
    m_delay = milliseconds;
}

bool DetailRenderScheduler::isBusy() const
{
    return m_timer->isActive() || m_running > 0;
}

bool DetailRenderScheduler::isWaitingForPause() const
{
    return m_timer->isActive();
}

void DetailRenderScheduler::endPauseNow()
{
    if (!m_timer->isActive())
        return;
    m_timer->stop();
    start();
}

void DetailRenderScheduler::request(const QString &documentID, qint64 version, BodySource body,
                                    const QHash<QString, QString> &titles)
{
    if (m_hasKey && m_keyID == documentID && m_keyVersion == version && m_keyTitles == titles)
        return;
    m_hasKey = true;
    m_keyID = documentID;
    m_keyVersion = version;
    m_keyBody = std::move(body);
    m_keyTitles = titles;
    ++m_keyRevision;
    ++m_generation;
    m_cancelled->store(true);
    m_timer->stop();
    if (!m_renderedDocumentID.isEmpty() && m_renderedDocumentID == documentID)
        m_timer->start(m_delay);
    else
        start();
}

void DetailRenderScheduler::cancel()
{
    ++m_generation;
    m_cancelled->store(true);
    m_timer->stop();
    m_hasKey = false;
}

void DetailRenderScheduler::setHtmlWanted(bool wanted)
{
    if (m_htmlWanted == wanted)
        return;
    m_htmlWanted = wanted;
    // The HTML shows again: the newest text's comes first, without the
    // pause, unless a render of it is already on its way.
    if (!wanted || !m_hasKey || isHtmlCurrent() ||
        (m_running > 0 && m_startedWithHtml && !m_timer->isActive()))
        return;
    ++m_generation;
    m_cancelled->store(true);
    m_timer->stop();
    start();
}

void DetailRenderScheduler::start()
{
    // Taken now, and held only while the render runs.
    std::optional<QString> text = m_keyBody ? m_keyBody() : std::nullopt;
    if (!text)
        return; // the document went away; the view's next request says what shows
    const quint64 generation = m_generation;
    const quint64 revision = m_keyRevision;
    const bool withHtml = m_htmlWanted;
    m_startedWithHtml = withHtml;
    const QString id = m_keyID;
    // Each render gets its own flag, raised when newer text or a cancel
    // supersedes it: the real renderer then stops at its next step instead
    // of holding up the render of the newest text.
    m_cancelled = std::make_shared<std::atomic<bool>>(false);
    RenderFunction render = m_render;
    if (!withHtml) {
        // Nothing shows the HTML: the counts are all that is wanted.
        render = [](const QString &body, const QHash<QString, QString> &) {
            return Output{QString(), MarkdownRenderer::stats(body)};
        };
    } else if (!render) {
        render = [cancelled = m_cancelled](const QString &body, const QHash<QString, QString> &titles) {
            QString html = MarkdownRenderer::render(body, titles, cancelled.get());
            return Output{std::move(html),
                          cancelled->load() ? MarkdownRenderer::Stats{} : MarkdownRenderer::stats(body)};
        };
    }
    auto *watcher = new QFutureWatcher<Output>(this);
    ++m_running;
    connect(watcher, &QFutureWatcher<Output>::finished, this,
            [this, watcher, generation, revision, withHtml, id] {
                --m_running;
                watcher->deleteLater();
                // A newer request (or cancel) supersedes this render; its result
                // would show text the user has already changed.
                if (generation != m_generation)
                    return;
                const Output output = watcher->result();
                if (withHtml) {
                    m_html = output.html;
                    m_htmlRevision = revision;
                }
                m_stats = output.stats;
                m_renderedDocumentID = id;
                Q_EMIT rendered();
            });
    watcher->setFuture(QtConcurrent::run(
        [render = std::move(render)](const QString &body, const QHash<QString, QString> &titles) {
            Output output = render(body, titles);
            // The render's temporaries are freed by now; a pool thread's
            // arena would otherwise keep their pages after every pause.
            AllocatorPolicy::releaseFreedMemory();
            return output;
        },
        std::move(*text), m_keyTitles));
}
