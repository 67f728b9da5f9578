#pragma once

#include "assistant/AIPillView.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <optional>

class QWidget;

// The small "Refine" / "Generate" pill shown beside the selection or the
// caret of one editor. It floats over the editor's window without taking
// the focus; a click reports the shown kind to the owner.
class AIPillPanel final : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Refine, Generate };

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

private:
    void makeView();

    QPointer<AIPillView> m_view;
    QPointer<QWidget> m_parentWindow;
    bool m_visible = false;
    std::optional<Kind> m_kind;
};
