#pragma once

#include "editor/core/SuggestionModel.h"
#include "store/TextRange.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>

class QKeyEvent;
class QScrollArea;
class QWidget;
class SuggestionListView;

// The small pop-up that lists document titles while a wiki link is typed.
// It never takes the keyboard focus: the editor forwards its key presses to
// handleKey() first, and the panel uses only Return, Enter, Tab, Escape and
// the up and down arrows.
class SuggestionPanel final : public QObject
{
    Q_OBJECT

public:
    explicit SuggestionPanel(QObject *parent = nullptr);
    ~SuggestionPanel() override;

    // Shows or updates the panel with `items` for the query at `queryRange`,
    // attached to `window`, placed by `anchor` (the caret rectangle at the
    // query start, screen coordinates). An empty list hides it. An unchanged
    // list keeps the highlighted row.
    void show(const QStringList &items, TextRange queryRange, QWidget *window, const QRect &anchor);
    void hide();
    // True when the panel used the key.
    bool handleKey(QKeyEvent *event);

    // Chooses row `index` (out of range: only hides) and hands its title and
    // the query range to accepted().
    void accept(int index);
    void move(int delta);

    bool isVisible() const { return m_visible; }
    TextRange queryRange() const { return m_queryRange; }
    SuggestionModel *model() const { return m_model; }
    // The pop-up window itself (for placement checks).
    QWidget *panel() const { return m_panel.data(); }

Q_SIGNALS:
    // A title was chosen to complete the query at `range`.
    void accepted(const QString &title, TextRange range);

private:
    void ensurePanel();

    SuggestionModel *m_model;
    QPointer<QWidget> m_panel;
    // Children of m_panel: valid while m_panel is.
    SuggestionListView *m_list = nullptr;
    QScrollArea *m_scroll = nullptr;
    QPointer<QWidget> m_parentWindow;
    bool m_visible = false;
    TextRange m_queryRange;
};
