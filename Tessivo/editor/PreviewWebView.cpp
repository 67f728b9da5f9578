#include "editor/PreviewWebView.h"

#include "editor/DropRoutingWebView.h"
#include "editor/PreviewPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QString &resourceFolderOverride()
{
    static QString folder;
    return folder;
}

bool holdsPage(const QString &folder)
{
    return !folder.isEmpty() && QFileInfo(QDir(folder).filePath(u"index.html"_s)).isFile();
}

} // namespace

PreviewWebView::PreviewWebView(PreviewProfile *profile, DocumentStore *store, QWidget *parent,
                               PreviewPage::Strategies strategies)
    : QWidget(parent), m_strategies(std::move(strategies)), m_profile(profile), m_store(store)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // A web view that composes through the GPU makes Qt create the window
    // anew when it joins a window already shown (losing its focus and
    // flashing); only one drawn in software, as the app draws it, can wait.
    const bool software = QQuickWindow::sceneGraphBackend() == u"software" ||
                          qEnvironmentVariable("QT_QUICK_BACKEND") == u"software";
    if (!software)
        startEngine();
}

void PreviewWebView::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    // Right after the window's first frame is on screen.
    if (!m_view && !m_startQueued) {
        m_startQueued = true;
        QTimer::singleShot(0, this, &PreviewWebView::startEngine);
    }
}

void PreviewWebView::startEngine()
{
    if (m_view) {
        return;
    }
    m_view = new DropRoutingWebView(this);
    m_page = new PreviewPage(m_profile, m_store, std::move(m_strategies), this);
    m_view->setPage(m_page);
    // Transparent before it is shown: the page draws no background, and the
    // view must not flash white over the window's before its first frame.
    m_view->setAttribute(Qt::WA_TranslucentBackground);
    m_view->setStyleSheet(u"background: transparent"_s);
    connect(m_view, &DropRoutingWebView::filesDropped, this, &PreviewWebView::filesDropped);
    m_page->update(m_html);
    followPalette();
    m_page->loadFrom(resourceFolder());
    layout()->addWidget(m_view);
}

PreviewPage *PreviewWebView::page()
{
    startEngine();
    return m_page;
}

DropRoutingWebView *PreviewWebView::webView()
{
    startEngine();
    return m_view;
}

void PreviewWebView::changeEvent(QEvent *event)
{
    if (m_page && (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange))
        followPalette();
    QWidget::changeEvent(event);
}

void PreviewWebView::followPalette()
{
    // The page draws no background: its text must suit what the window draws
    // behind it.
    m_page->setDarkAppearance(palette().color(QPalette::Base).lightness() < 128);
}

void PreviewWebView::setHtml(const QString &html, PreviewPage::Place place)
{
    m_html = html;
    if (m_page)
        m_page->update(html, place);
}

QString PreviewWebView::resourceFolder()
{
    QStringList candidates{resourceFolderOverride(), qEnvironmentVariable("TESSIVO_PREVIEW_DIR")};
    const QString appDir = QCoreApplication::applicationDirPath();
    candidates << QDir(appDir).filePath(u"Preview"_s) << QDir(appDir).filePath(u"../share/tessivo/Preview"_s);
    candidates << QStandardPaths::locate(QStandardPaths::GenericDataLocation, u"tessivo/Preview"_s,
                                         QStandardPaths::LocateDirectory);
    for (const QString &folder : candidates) {
        if (holdsPage(folder))
            return QDir(folder).absolutePath();
    }
    return {};
}

void PreviewWebView::setResourceFolder(const QString &folder)
{
    resourceFolderOverride() = folder;
}
