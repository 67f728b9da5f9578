#pragma once

#include <QList>
#include <QUrl>
#include <QWebEngineView>

// The preview's web view. Files dragged onto it that the app can take are
// handed on with filesDropped(); anything else dragged onto it is refused, so
// a drop never navigates or edits the page.
class DropRoutingWebView final : public QWebEngineView
{
    Q_OBJECT

public:
    explicit DropRoutingWebView(QWidget *parent = nullptr);

Q_SIGNALS:
    // The preview has no caret: images go wherever the open document's
    // editor (or its stored text) takes them.
    void filesDropped(const QList<QUrl> &urls);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
