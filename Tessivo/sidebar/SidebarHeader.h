#pragma once

#include "app/core/AppShortcuts.h"
#include "app/core/IconName.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QWidget>

#include <functional>

class QMenu;

// The product mark and name at the top of the sidebar.
class BrandRow final : public QWidget
{
    Q_OBJECT

public:
    explicit BrandRow(QWidget *parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A wide "New document" button joined to a caret that opens a menu of more
// ways to create.
class CreateSplitButton final : public QWidget
{
    Q_OBJECT

public:
    CreateSplitButton(std::function<void()> createDocument, std::function<void()> createCollection,
                      std::function<void()> openFile, QWidget *parent = nullptr);

    // The menu bar's own bindings, so that the texts shown here cannot drift from them.
    static QKeySequence newDocumentShortcut() { return QKeySequence(AppShortcuts::newDocument); }
    static QKeySequence newCollectionShortcut() { return QKeySequence(AppShortcuts::newCollection); }

    bool isHoveringMain() const { return m_hoveringMain; }
    bool isHoveringCaret() const { return m_hoveringCaret; }
    // The caret's menu, made afresh each time it opens (owned by the caller).
    QMenu *makeMenu(QWidget *parent) const;
    QRect mainRect() const;
    QRect caretRect() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    void setHover(bool main, bool caret);

    std::function<void()> m_createDocument;
    std::function<void()> m_createCollection;
    std::function<void()> m_openFile;
    bool m_hoveringMain = false;
    bool m_hoveringCaret = false;
    bool m_pressedMain = false;
};

// A small square icon button with the sidebar's fill and outline.
class SidebarIconButton final : public QAbstractButton
{
    Q_OBJECT

public:
    SidebarIconButton(IconName icon, const QString &help, std::function<void()> action,
                      QWidget *parent = nullptr);

    bool isHovering() const { return m_hovering; }
    QSize sizeHint() const override { return {34, 34}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    IconName m_icon;
    bool m_hovering = false;
};
