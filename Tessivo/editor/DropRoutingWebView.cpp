#include "editor/DropRoutingWebView.h"

#include "editor/FileDrop.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QWebEnginePage>

DropRoutingWebView::DropRoutingWebView(QWidget *parent) : QWebEngineView(parent)
{
    setAcceptDrops(true);
}

void DropRoutingWebView::dragEnterEvent(QDragEnterEvent *event)
{
    if (FileDrop::canHandle(FileDrop::fileURLs(event->mimeData()))) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void DropRoutingWebView::dragMoveEvent(QDragMoveEvent *event)
{
    if (FileDrop::canHandle(FileDrop::fileURLs(event->mimeData()))) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void DropRoutingWebView::dragLeaveEvent(QDragLeaveEvent *event)
{
    event->accept();
}

void DropRoutingWebView::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = FileDrop::fileURLs(event->mimeData());
    if (!FileDrop::canHandle(urls)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // The preview has no caret: images go into the open document wherever
    // its editor (or its stored text) takes them.
    FileDrop::handle(urls, std::nullopt, nullptr);
}

void DropRoutingWebView::contextMenuEvent(QContextMenuEvent *event)
{
    // Only what makes sense on a single, fixed page: copying.
    QMenu menu(this);
    QWebEnginePage *p = page();
    menu.addAction(p->action(QWebEnginePage::Copy));
    menu.addAction(p->action(QWebEnginePage::CopyLinkToClipboard));
    menu.addSeparator();
    menu.addAction(p->action(QWebEnginePage::SelectAll));
    for (QAction *action : menu.actions()) {
        if (!action->isSeparator() && !action->isEnabled())
            menu.removeAction(action);
    }
    menu.exec(event->globalPos());
}
