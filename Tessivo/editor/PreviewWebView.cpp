#include "editor/PreviewWebView.h"

#include "editor/DropRoutingWebView.h"
#include "editor/PreviewPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QStandardPaths>
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

PreviewWebView::PreviewWebView(QWidget *parent, DocumentStore *store, PreviewPage::Strategies strategies)
    : QWidget(parent), m_view(new DropRoutingWebView(this)),
      m_page(new PreviewPage(store, std::move(strategies), this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_view->setPage(m_page);
    m_view->setAttribute(Qt::WA_TranslucentBackground);
    m_view->setStyleSheet(u"background: transparent"_s);
    m_page->update(m_html);
    followPalette();
    m_page->loadFrom(resourceFolder());
}

void PreviewWebView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        followPalette();
    QWidget::changeEvent(event);
}

void PreviewWebView::followPalette()
{
    // The page draws no background: its text must suit what the window draws
    // behind it.
    m_page->setDarkAppearance(palette().color(QPalette::Base).lightness() < 128);
}

void PreviewWebView::setHtml(const QString &html)
{
    m_html = html;
    m_page->update(html);
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
