#pragma once

#include "editor/core/EditorTextMirror.h"
#include "store/TextRange.h"

#include <QList>
#include <QMenu>
#include <QPlainTextEdit>
#include <QUrl>

#include <functional>
#include <optional>

class QKeyEvent;

// The editor's plain-text Markdown view. Return continues Markdown lists and
// ends them on an empty item; typing "![" asks for the media library; files
// dropped on it go to the file drop handler. Its owner hears about keys,
// focus loss and mouse-up through callbacks.
//
// Positions and ranges in this interface are UTF-16 offsets into string(),
// the exact text the user wrote (the document underneath stores line breaks
// its own way; that never shows here).
//
// Every programmatic edit goes through replaceCharacters() or the list
// continuation and is one undo step; textDidChange() follows each edit,
// typed or programmatic, but not setString().
class QTimer;

class ListContinuingTextView : public QPlainTextEdit
{
    Q_OBJECT

public:
    // How the owner takes keys before the view: both parts are optional.
    struct KeyRouting
    {
        // Asked first on every key press; true means the key was handled.
        std::function<bool(QKeyEvent *)> intercept;
        // While this returns true, the navigation keys the interceptor may
        // use (Escape, Return, Enter, Tab, up and down) come to the view even
        // when the application binds them to a shortcut.
        std::function<bool()> claimsNavigationKeys;
    };

    // `routing` is asked for as long as the view lives: its functions may
    // use the parent (which outlives the view), not siblings made later.
    explicit ListContinuingTextView(QWidget *parent = nullptr, KeyRouting routing = {});
    ~ListContinuingTextView() override;
    // For a parent on its way out: its destructor runs before the view's, and
    // the view still handles events while it is being taken down.
    void dropKeyRouting() { m_keyRouting = {}; }

    // --- Text ----------------------------------------------------------------
    // The exact text: what was loaded plus every edit, line breaks as written.
    const QString &string() const { return m_mirror.body(); }
    qsizetype length() const { return m_mirror.body().size(); }
    // Replaces the whole text without an undo step or textDidChange(); clears
    // the undo history (it would refer to a text that is gone).
    void setString(const QString &text);
    // The edits of string() since the last call or setString(), in order,
    // for a copy of the text kept elsewhere; nullopt when the text was
    // re-read from the display meanwhile or the edits were too many, so only
    // the whole of it will do.
    std::optional<QList<TextEdit>> takeEdits();
    // The text as the display holds it (each line break one "\n"); positions
    // in it are display positions, as the highlighter needs them.
    QString displayText() const { return m_mirror.documentText(); }

    TextRange selectedRange() const;
    void setSelectedRange(TextRange range);

    // Whether an edit of `range` to `text` is allowed now (not read-only).
    bool shouldChangeText(TextRange range, const QString &text) const;
    // Replaces `range` (clamped to the text) with `text` as one undo step,
    // puts the caret after the new text, reports the change and, with
    // `takeFocus`, takes the keyboard focus (an edit the user did not start
    // right now, such as a finished upload, should pass false). False (and
    // nothing changed) when the edit is refused.
    bool replaceCharacters(TextRange range, const QString &text, bool takeFocus = true);

    // The character position nearest to `point` (viewport coordinates).
    qsizetype characterIndexForInsertion(const QPoint &viewportPoint) const;
    // The caret rectangle at `position`, in global screen coordinates.
    QRect caretRectOnScreen(qsizetype position) const;
    // The first line rectangle of `range`, in global screen coordinates.
    QRect firstRectOnScreen(TextRange range) const;

    // Display position <-> text position (they differ only after CR LF).
    qsizetype toTextPosition(int displayPosition) const { return m_mirror.toBody(displayPosition); }
    int toDisplayPosition(qsizetype textPosition) const;

    // --- Decorations that never touch the text or its undo history ----------
    enum class Decoration { Spelling, AssistantRange };
    void setDecorations(Decoration kind, const QList<QTextEdit::ExtraSelection> &selections);

    // Set while the view applies its own formatting: document notifications
    // that arrive meanwhile are not edits.
    void beginFormatting() { ++m_formatting; }
    void endFormatting() { --m_formatting; }

Q_SIGNALS:
    // After the view lost the keyboard focus to another widget.
    void resigned();
    // A "![" pair was just typed at `range`.
    void imageTriggered(TextRange range);
    // A mouse click or drag in the view ended.
    void mouseReleased();
    // The context menu opened at text position `position` is about to show:
    // receivers (connected directly) may add entries to `menu`.
    void contextMenuRequested(QMenu *menu, qsizetype position);
    // Files the view can take (see FileDrop::canHandle) were dropped at text
    // position `index`.
    void filesDropped(const QList<QUrl> &urls, qsizetype index);
    // After every edit of the text, typed or programmatic (not setString()).
    void textDidChange();
    // After the caret or the selection moved.
    void selectionDidChange();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    QMimeData *createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void documentContentsChange(int position, int removed, int added);
    void documentContentsChanged();
    void insertNewline(QKeyEvent *event);
    void checkImageTrigger(const QString &inserted);
    void refreshExtraSelections();
    QRect caretRect() const;
    // Whether `key` is bound by an enabled action of the window (the menus).
    bool isWindowShortcut(const QKeyEvent *key) const;
    void restartCaretBlink();
    bool acceptsFileDrop(const QMimeData *data) const;

    EditorTextMirror m_mirror;
    int m_formatting = 0;
    // The caret is drawn here, in the accent colour, so it blinks on our timer.
    QTimer *m_caretBlink = nullptr;
    bool m_caretOn = false;
    bool m_settingString = false;
    bool m_changePending = false;
    QList<TextEdit> m_edits;
    bool m_editsComplete = false; // m_edits lead from the last takeEdits() to string()
    KeyRouting m_keyRouting;
    QList<QTextEdit::ExtraSelection> m_spelling;
    QList<QTextEdit::ExtraSelection> m_assistantRange;
};
