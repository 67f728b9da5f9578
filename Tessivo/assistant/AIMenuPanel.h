#pragma once

#include "editor/AITrigger.h"
#include "store/TextRange.h"

#include <QObject>

#include <optional>

class ListContinuingTextView;

// The floating AI menu of one editor. For now a stand-in with the menu's
// interface: it remembers what it was last opened for and shows nothing, so
// it is never visible and never writes a reply.
class AIMenuPanel final : public QObject
{
    Q_OBJECT

public:
    explicit AIMenuPanel(QObject *parent = nullptr);

    // Opens the menu over `textView` for `trigger`.
    void show(const AITrigger &trigger, ListContinuingTextView *textView);
    // Hides the menu and cancels a running reply; with `revert`, puts back
    // the text the reply replaced. Resets the trigger and the pending range.
    // Nothing when the menu is not shown.
    void close(bool revert);

    // Marks `range` of `textView`'s text with the AI background (removing the
    // mark of the previous call); nothing or an empty range only removes it.
    static void setHighlight(const std::optional<TextRange> &range, ListContinuingTextView *textView);

    // Set while an AI reply is being written into the text.
    const std::optional<TextRange> &pendingRange() const { return m_pendingRange; }
    bool isVisible() const { return m_visible; }
    // What the menu was last opened for; reset by close().
    const std::optional<AITrigger> &trigger() const { return m_trigger; }

private:
    std::optional<AITrigger> m_trigger;
    std::optional<TextRange> m_pendingRange;
    bool m_visible = false;
};
