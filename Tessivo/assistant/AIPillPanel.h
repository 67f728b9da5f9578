#pragma once

#include "assistant/AIPillView.h"
#include "editor/core/AITrigger.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <optional>

class QWidget;

// The small "Refine" / "Generate" pill shown beside the selection or the
// caret of one editor. It floats over the editor's window without taking
// the focus, only while that window is the active one; a click reports the
// shown kind to the owner. A top-level window of its own on this desktop,
// it does not move with the editor's window: it asks its owner for a new
// place whenever the text it points at may have moved.
class AIPillPanel final : public QObject
{
    Q_OBJECT

public:
    using Kind = AITrigger::Kind;

    explicit AIPillPanel(QObject *parent = nullptr);
    ~AIPillPanel() override;

    // Shows the pill of `kind` beside `anchor` (screen coordinates: the first
    // rectangle of the selection, or the caret rectangle) over `window`, or
    // moves and updates it when it is shown.
    void show(Kind kind, const QRect &anchor, QWidget *window);
    // Hides the pill when it is shown.
    void hide();

    bool isVisible() const { return m_visible; }
    const std::optional<Kind> &kind() const { return m_kind; }
    AIPillView *view() const { return m_view; }

Q_SIGNALS:
    // The pill of `kind` was clicked.
    void pressed(Kind kind);
    // While shown: its window moved or resized, or the widgets between the
    // window and its focus did, or the window became active again. The
    // anchor has moved with them: the owner should show() it anew.
    void placementStale();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void makeView();
    void refreshVisibility();
    void askForPlacement();

    QPointer<AIPillView> m_view;
    QPointer<QWidget> m_parentWindow;
    bool m_visible = false;
    bool m_placementAsked = false;
    std::optional<Kind> m_kind;
};
