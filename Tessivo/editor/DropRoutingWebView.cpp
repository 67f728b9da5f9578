#include "editor/DropRoutingWebView.h"

#include "editor/FileDrop.h"
#include "editor/PreviewPage.h"

#include <QChildEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QKeyEvent>
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
    Q_EMIT filesDropped(urls);
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

bool DropRoutingWebView::event(QEvent *event)
{
    // The engine draws into a child widget made after the first load; that
    // child receives the user's clicks and keys.
    if (event->type() == QEvent::ChildAdded) {
        if (QObject *child = static_cast<QChildEvent *>(event)->child(); child && child->isWidgetType())
            child->installEventFilter(this);
    }
    return QWebEngineView::event(event);
}

bool DropRoutingWebView::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    const bool userInput = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
                           type == QEvent::KeyPress || type == QEvent::TouchEnd;
    if (userInput) {
        if (auto *previewPage = qobject_cast<PreviewPage *>(page()))
            previewPage->noteUserInput();
    }
    return QWebEngineView::eventFilter(watched, event);
}
