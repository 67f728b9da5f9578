#pragma once

#include "editor/core/EditorRules.h"
#include "store/DocumentStore.h"
#include "store/TextRange.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class AppNotifications;
class EditorAssistant;
class EditorFindBar;
class InlineSpelling;
class ListContinuingTextView;
class SpellChecker;
class SuggestionPanel;

// The editor of one document at a time: a plain-text Markdown view bound to
// the body of a document in the store. Every edit goes to the store at once;
// a change of the body from elsewhere (sync, an import) is shown at once.
// Switching documents resets the text, the undo history, the caret and the
// scroll position. It owns everything that reacts to typing: highlighting
// 80 ms after the last keystroke, wiki-link completion, spell checking, the
// AI menu and pill, and the "![" media-library trigger.
//
// The AI duties go to the `assistant` handed in (owned by the editor from
// then on); without one the editor has none. The app's notification bus
// carries the AI and media-library commands; the spell checker marks words.
//
//   auto *editor = new MarkdownTextView(store, notifications, spelling, new AssistantPanels, parent);
//   editor->setDocumentID(store->activeDocumentID());
class MarkdownTextView final : public QWidget
{
    Q_OBJECT

public:
    // `notifications` and `spelling` are required; none of the three is
    // owned and each must outlive the editor.
    MarkdownTextView(DocumentStore *store, AppNotifications *notifications, SpellChecker *spelling,
                     EditorAssistant *assistant = nullptr, QWidget *parent = nullptr);
    ~MarkdownTextView() override;

    // Shows the document with `id` (its body, or nothing when the store has
    // no such document). Another id than the current one switches documents.
    void setDocumentID(const QString &id);
    QString documentID() const { return m_documentID; }

    ListContinuingTextView *textView() const { return m_textView; }
    // The text view while it is shown in a window and shows the document
    // with `documentID`, so that others (file drops, the media library) can
    // edit the open document with undo and selection intact. Else null.
    ListContinuingTextView *liveTextView(const QString &documentID) const;
    SuggestionPanel *suggestions() const { return m_suggestions; }
    EditorAssistant *assistant() const { return m_assistant; }
    InlineSpelling *spelling() const { return m_spelling; }
    EditorFindBar *findBar() const { return m_findBar; }

    // Re-highlights now / 80 ms after the last call.
    void highlight();
    void scheduleHighlight();
    // Whether a pass waits for the pause to end; tests run it with highlight().
    bool isHighlightPending() const { return m_highlightTimer.isActive(); }
    static constexpr int highlightDelayMilliseconds = 80;

    // Completes the wiki link whose query is at `range` with `title`.
    void acceptSuggestion(const QString &title, TextRange range);
    // Opens, moves or closes the completion panel; without `force` only an
    // open panel is updated.
    void updateLinkSuggestions(bool force);
    // The longest wiki-link query completed, in characters before the caret.
    static constexpr qsizetype longestLinkQuery = 1000;
    // Shows, moves or hides the AI pill.
    void updatePill();
    void openAIMenu(EditorRules::AIMode mode);

    // Takes a change of the shown document's body made elsewhere.
    void refreshFromStore();

Q_SIGNALS:
    // After every highlighting pass.
    void highlighted();

private:
    QString boundText() const;
    void handleTextChange();
    void handleSelectionChange();

    QPointer<DocumentStore> m_store;
    ListContinuingTextView *m_textView;
    QString m_documentID;
    QString m_lastText;
    bool m_lastTextKnown = false; // m_lastText is the store's text as last loaded
    QTimer m_highlightTimer;
    SuggestionPanel *m_suggestions;
    EditorAssistant *m_assistant;
    InlineSpelling *m_spelling;
    EditorFindBar *m_findBar = nullptr;
    bool m_writing = false;
    bool m_coloured = true; // whether some line may carry colours
};
