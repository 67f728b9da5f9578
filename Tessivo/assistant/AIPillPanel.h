#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

#include <optional>

class QWidget;

// The small "Refine" / "Generate" pill shown beside the selection or the
// caret. For now a stand-in with the pill's interface: it remembers what it
// would show and shows nothing.
class AIPillPanel final : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Refine, Generate };

    explicit AIPillPanel(QObject *parent = nullptr);

    // Shows the pill of `kind` beside `anchor` (screen coordinates: the first
    // rectangle of the selection, or the caret rectangle) over `window`.
    void show(Kind kind, const QRect &anchor, QWidget *window);
    // Hides the pill when it is shown.
    void hide();

    bool isVisible() const { return m_visible; }
    const std::optional<Kind> &kind() const { return m_kind; }

Q_SIGNALS:
    // The pill of `kind` was clicked.
    void pressed(Kind kind);

private:
    bool m_visible = false;
    std::optional<Kind> m_kind;
    QRect m_anchor;
    QPointer<QWidget> m_parentWindow;
};
