#pragma once

#include <QWebEngineView>

// The preview's web view. Files dragged onto it go to the application's file
// drop (Markdown files become documents, images go into the open document);
// anything else dragged onto it is refused, so a drop never navigates or
// edits the page.
class DropRoutingWebView final : public QWebEngineView
{
    Q_OBJECT

public:
    explicit DropRoutingWebView(QWidget *parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
