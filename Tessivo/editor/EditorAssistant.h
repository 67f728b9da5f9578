#pragma once

#include "editor/core/AITrigger.h"
#include "store/TextRange.h"

#include <QObject>

#include <optional>

class ListContinuingTextView;
class QRect;
class QWidget;

// What an editor asks of the AI writing tools: the pill beside the selection
// or the caret, and the menu that writes a reply into the text. The editor
// owns this interface so that it depends on nothing of the assistant; whoever
// makes an editor hands it an implementation (or none: no AI duties).
class EditorAssistant : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Shows the pill of `kind` beside `anchor` (screen coordinates: the first
    // rectangle of the selection, or the caret rectangle) over `window`.
    virtual void showPill(AITrigger::Kind kind, const QRect &anchor, QWidget *window) = 0;
    virtual void hidePill() = 0;

    // Opens the menu over `textView` for `trigger`.
    virtual void openMenu(const AITrigger &trigger, ListContinuingTextView *textView) = 0;
    // Hides the menu and cancels a running reply; with `revert`, puts back
    // the text the reply replaced. Nothing when the menu is not shown.
    virtual void closeMenu(bool revert) = 0;
    virtual bool isMenuVisible() const = 0;
    // Set while a reply is being written into the text.
    virtual std::optional<TextRange> pendingRange() const = 0;
    // Marks the pending range of `textView` again (highlighting replaces the
    // text's marks); removes the mark when nothing is pending.
    virtual void markPendingRange(ListContinuingTextView *textView) = 0;

Q_SIGNALS:
    // The pill of `kind` was clicked.
    void pillPressed(AITrigger::Kind kind);
    // The shown pill's anchor may have moved (the window moved, the layout
    // changed, the window became active again): show or hide it anew.
    void pillPlacementStale();
};
