#pragma once

#include "assistant/AIMenuView.h"
#include "assistant/AIReplyWriter.h"
#include "editor/core/AITrigger.h"
#include "store/TextRange.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class AIAssistant;
class AIMenuModel;
class AIStream;
class ListContinuingTextView;
class QWidget;
struct AIRequest;
struct APIError;
struct RefineAction;

// The floating AI menu of one editor: a small key-taking panel beside the
// selection (refine) or the caret (generate) that runs a preset or the
// typed prompt and writes the reply into the text view while it streams.
// The reply goes in as one edit that grows with each chunk, so whatever
// stays is one undo step; closing with revert (Escape, a click elsewhere in
// the application, another document) puts the earlier text back.
class AIMenuPanel final : public QObject
{
    Q_OBJECT

public:
    // `assistant` (not owned) runs the requests. `unauthorized` runs when
    // the service turned a request away for want of a valid sign-in (the
    // menu has closed): it should refresh the account, which keeps or ends
    // the session.
    AIMenuPanel(QObject *parent, AIAssistant *assistant, std::function<void()> unauthorized = {});
    ~AIMenuPanel() override;

    // Opens the menu over `textView` for `trigger`; first closes it (with
    // revert) when it is open. Nothing when the view is not in a window.
    void show(const AITrigger &trigger, ListContinuingTextView *textView);
    // Hides the menu and cancels a running reply; with `revert`, puts back
    // the text the reply replaced, else keeps what was written. Nothing
    // when the menu is not shown.
    void close(bool revert);

    // Marks `range` of `textView`'s text with the AI background (removing the
    // mark of the previous call); nothing or an empty range only removes it.
    static void setHighlight(const std::optional<TextRange> &range, ListContinuingTextView *textView);

    // Set exactly while an AI reply is being written into the text.
    const std::optional<TextRange> &pendingRange() const { return m_pendingRange; }
    bool isVisible() const { return m_visible; }
    // What the open menu acts on; reset by close().
    const std::optional<AITrigger> &trigger() const { return m_trigger; }

    AIMenuModel *model() const { return m_model; }
    QWidget *panel() const { return m_panel; }
    AIMenuView *view() const { return m_view; }

    static QString documentChangedMessage()
    {
        return QStringLiteral("The document changed while the AI was writing.");
    }

protected:
    // The editor's window moving or changing size takes the menu along.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ensurePanel();
    // Places the panel by the caret. `glide`: a change of content, which
    // glides there once the panel has been placed; otherwise (the window
    // moved) the panel goes there at once, as a child window would.
    void layout(bool glide = true);
    void followWindow();
    void runPreset(const RefineAction &action);
    void submitCustom();
    void run(const AIRequest &request, const QString &status);
    void write(const QString &chunk);
    void finish();
    void fail(const APIError &error);
    void revert();
    void keepWritten();
    void abortDocumentChanged();
    std::optional<TextRange> textRange(const std::optional<AIReplyWriter::Range> &range) const;
    void stopStream();
    void watchFocus();
    void unwatchFocus();

    AIAssistant *m_assistant;
    std::function<void()> m_unauthorized;
    AIMenuModel *m_model;
    QPointer<QWidget> m_panel;
    QPointer<AIMenuView> m_view;
    QPointer<QWidget> m_parentWindow;
    QPointer<ListContinuingTextView> m_textView;
    std::optional<AITrigger> m_trigger;
    QPointer<AIStream> m_stream;
    // Writes the reply into the text view's document; made for that document.
    QPointer<AIReplyWriter> m_writer;
    std::optional<TextRange> m_pendingRange;
    bool m_visible = false;
    bool m_hasLaidOut = false;
    bool m_panelFocused = false;
    bool m_followQueued = false;
    QMetaObject::Connection m_focusWatch;
    QMetaObject::Connection m_activeWatch;
};
