#include "editor/MarkdownTextView.h"

#include "app/core/AppNotifications.h"
#include "editor/EditorAssistant.h"
#include "editor/EditorFindBar.h"
#include "editor/InlineSpelling.h"
#include "editor/ListContinuingTextView.h"
#include "editor/SpellChecker.h"
#include "editor/SuggestionPanel.h"
#include "editor/SyntaxHighlighter.h"
#include "store/DocumentStore.h"
#include "store/FuzzyFilter.h"

#include <QAction>
#include <QApplication>
#include <QScrollBar>
#include <QVBoxLayout>

MarkdownTextView::MarkdownTextView(DocumentStore *store, AppNotifications *notifications,
                                   SpellChecker *spelling, EditorAssistant *assistant, QWidget *parent)
    : QWidget(parent), m_store(store),
      m_textView(new ListContinuingTextView(
          this, {[this](QKeyEvent *event) { return m_suggestions->handleKey(event); },
                 [this] { return m_suggestions->isVisible(); }})),
      m_suggestions(new SuggestionPanel(this)), m_assistant(assistant),
      m_spelling(new InlineSpelling(m_textView, spelling, this))
{
    m_findBar = new EditorFindBar(m_textView, this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_findBar);
    layout->addWidget(m_textView);
    setFocusProxy(m_textView);
    const auto addFindAction = [this](const QKeySequence &keys, auto slot) {
        auto *action = new QAction(this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
    };
    addFindAction(QKeySequence::Find, [this] { m_findBar->open(); });
    addFindAction(QKeySequence::FindNext, [this] { m_findBar->findNext(false); });
    addFindAction(QKeySequence::FindPrevious, [this] { m_findBar->findNext(true); });

    m_highlightTimer.setSingleShot(true);
    m_highlightTimer.setInterval(highlightDelayMilliseconds);
    connect(&m_highlightTimer, &QTimer::timeout, this, &MarkdownTextView::highlight);

    m_lastText = boundText();
    m_lastTextKnown = true;
    m_textView->setString(m_lastText);
    highlight();

    // Everything installed on other objects dies with this view (children
    // and connections with `this` as context), so nothing outlives it.
    connect(m_suggestions, &SuggestionPanel::accepted, this, &MarkdownTextView::acceptSuggestion);
    connect(m_textView, &ListContinuingTextView::resigned, this, [this] {
        m_suggestions->hide();
        if (m_assistant) {
            m_assistant->hidePill();
        }
    });
    connect(m_textView, &ListContinuingTextView::mouseReleased, this, &MarkdownTextView::updatePill);
    if (m_assistant) {
        m_assistant->setParent(this);
        connect(m_assistant, &EditorAssistant::pillPressed, this, [this](AITrigger::Kind kind) {
            openAIMenu(kind == AITrigger::Kind::Refine ? EditorRules::AIMode::Refine
                                                       : EditorRules::AIMode::Generate);
        });
        connect(m_assistant, &EditorAssistant::pillPlacementStale, this, &MarkdownTextView::updatePill);
    }
    connect(notifications, &AppNotifications::aiAssistRequested, this, [this](const QString &mode) {
        openAIMenu(EditorRules::aiModeFromUserInfo({{AppNotifications::modeKey, mode}}));
    });
    connect(m_textView, &ListContinuingTextView::imageTriggered, this, [notifications](TextRange range) {
        notifications->post(AppNotifications::openMediaLibrary,
                            {{AppNotifications::rangeKey, QVariant::fromValue(range)}});
    });
    connect(m_textView->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        updateLinkSuggestions(false);
        updatePill();
    });
    connect(m_textView, &ListContinuingTextView::contextMenuRequested, m_spelling,
            &InlineSpelling::extendContextMenu);
    connect(m_textView, &ListContinuingTextView::textDidChange, this, &MarkdownTextView::handleTextChange);
    connect(m_textView, &ListContinuingTextView::selectionDidChange, this,
            &MarkdownTextView::handleSelectionChange);

    if (m_store) {
        connect(m_store, &DocumentStore::documentsChanged, this, [this](const QString &changedID) {
            if (changedID.isEmpty() || changedID == m_documentID) {
                refreshFromStore();
            }
        });
    }

    m_spelling->schedule();
}

MarkdownTextView::~MarkdownTextView()
{
    // The text view outlives this body (children go in ~QWidget), and its
    // destruction still sends focus and selection events: nothing of this
    // object may be reached from it any more.
    m_textView->disconnect(this);
    m_textView->verticalScrollBar()->disconnect(this);
    m_textView->dropKeyRouting();
    m_suggestions->hide();
    if (m_assistant) {
        m_assistant->closeMenu(true);
        m_assistant->hidePill();
    }
}

ListContinuingTextView *MarkdownTextView::liveTextView(const QString &documentID) const
{
    // "In a window": part of a shown window, not a loose or hidden widget
    // (the editor is hidden, not destroyed, in preview mode).
    if (m_textView->isWindow() || !m_textView->isVisible() || documentID.isEmpty() ||
        documentID != m_documentID) {
        return nullptr;
    }
    return m_textView;
}

QString MarkdownTextView::boundText() const
{
    if (!m_store || m_documentID.isEmpty()) {
        return QString();
    }
    const std::optional<Document> document = m_store->document(m_documentID);
    return document ? document->body : QString();
}

void MarkdownTextView::setDocumentID(const QString &id)
{
    if (id == m_documentID) {
        refreshFromStore();
        return;
    }
    if (m_assistant) {
        m_assistant->closeMenu(true);
    }
    m_documentID = id;
    m_suggestions->hide();
    if (m_assistant) {
        m_assistant->hidePill();
    }
    m_lastText = boundText();
    m_lastTextKnown = true;
    m_textView->setString(m_lastText); // clears the undo history too
    m_coloured = false;                // a fresh display has no colours
    highlight();
    m_textView->setSelectedRange({0, 0});
    m_textView->verticalScrollBar()->setValue(0);
    m_spelling->schedule();
}

void MarkdownTextView::refreshFromStore()
{
    if (m_writing) {
        return;
    }
    const QString bound = boundText();
    if ((m_lastTextKnown && bound == m_lastText) || bound == m_textView->string()) {
        return;
    }
    // Changed elsewhere (sync, import): show it, keeping the caret's place
    // as far as the new text allows, and the scroll position.
    if (m_assistant) {
        m_assistant->closeMenu(false);
    }
    const qsizetype caret = m_textView->selectedRange().location;
    const int scroll = m_textView->verticalScrollBar()->value();
    m_lastText = bound;
    m_lastTextKnown = true;
    m_textView->setString(bound);
    m_coloured = false;
    highlight();
    m_textView->setSelectedRange({std::min(caret, bound.size()), 0});
    m_textView->verticalScrollBar()->setValue(scroll);
    m_spelling->schedule();
}

void MarkdownTextView::handleTextChange()
{
    // The store now holds the editor's text, which is compared above; a
    // copy kept here would make the next key copy the whole body.
    m_lastText.clear();
    m_lastTextKnown = false;
    const std::optional<QList<TextEdit>> edits = m_textView->takeEdits();
    if (m_store && !m_documentID.isEmpty()) {
        m_writing = true;
        const QString &text = m_textView->string();
        if (!edits || !m_store->editBody(*edits, text.size(), m_documentID)) {
            m_store->updateBody(text, m_documentID);
        }
        m_writing = false;
    }
    scheduleHighlight();
    updateLinkSuggestions(!(m_assistant && m_assistant->pendingRange()));
    updatePill();
}

void MarkdownTextView::handleSelectionChange()
{
    updateLinkSuggestions(false);
    updatePill();
}

void MarkdownTextView::highlight()
{
    m_highlightTimer.stop();
    // Over the limit the look is the base look: once no line carries colours
    // any more, further passes would only confirm it.
    if (m_coloured || m_textView->length() <= MarkdownHighlighterRules::maximumLength) {
        m_coloured = SyntaxHighlighter::highlight(m_textView);
    }
    if (m_assistant && m_assistant->pendingRange()) {
        m_assistant->markPendingRange(m_textView);
    }
    Q_EMIT highlighted();
}

void MarkdownTextView::scheduleHighlight()
{
    m_highlightTimer.start();
}

void MarkdownTextView::updateLinkSuggestions(bool force)
{
    if (!force && !m_suggestions->isVisible()) {
        return;
    }
    const TextRange selection = m_textView->selectedRange();
    const QString &text = m_textView->string();
    if (!m_textView->isVisible() || selection.length > 0 || selection.location > text.size()) {
        m_suggestions->hide();
        return;
    }
    const qsizetype caret = selection.location;
    // Only the end of a long line can hold the query being typed: looking
    // further back would make every keystroke in a huge line cost the line.
    const qsizetype from = std::max<qsizetype>(0, caret - longestLinkQuery);
    const QString before = text.mid(from, caret - from);
    const qsizetype lineStart = from + EditorRules::lineRange(before, before.size()).location;
    const std::optional<TextRange> query = EditorRules::wikiLinkQuery(text.mid(lineStart, caret - lineStart));
    if (!query || !m_store) {
        m_suggestions->hide();
        return;
    }
    const TextRange queryRange{lineStart + query->location, query->length};
    QStringList titles = fuzzyFilter(m_store->linkTitles(), text.mid(queryRange.location, queryRange.length));
    if (titles.isEmpty()) {
        m_suggestions->hide();
        return;
    }
    titles = titles.mid(0, EditorRules::maximumSuggestions);
    const QRect anchor = m_textView->caretRectOnScreen(queryRange.location);
    m_suggestions->show(titles, queryRange, m_textView->window(), anchor);
}

void MarkdownTextView::acceptSuggestion(const QString &title, TextRange range)
{
    m_textView->replaceCharacters(range, title + QStringLiteral("]]"));
}

void MarkdownTextView::updatePill()
{
    if (!m_assistant) {
        return;
    }
    QWidget *window = m_textView->window();
    const bool allowed = m_textView->isVisible() && window && window->isActiveWindow() &&
                         m_textView->hasFocus() && !m_assistant->isMenuVisible() &&
                         !(QGuiApplication::mouseButtons() & Qt::LeftButton);
    if (!allowed) {
        m_assistant->hidePill();
        return;
    }
    const QString &text = m_textView->string();
    const TextRange selection = m_textView->selectedRange();
    if (selection.length > 0) {
        if (EditorRules::isRefinable(text, selection)) {
            m_assistant->showPill(AITrigger::Kind::Refine, m_textView->firstRectOnScreen(selection), window);
        } else {
            m_assistant->hidePill();
        }
        return;
    }
    if (selection.location > text.size() || !EditorRules::isBlankLine(text, selection.location)) {
        m_assistant->hidePill();
        return;
    }
    m_assistant->showPill(AITrigger::Kind::Generate, m_textView->caretRectOnScreen(selection.location),
                          window);
}

void MarkdownTextView::openAIMenu(EditorRules::AIMode mode)
{
    if (!m_assistant || !m_textView->isVisible() || m_assistant->pendingRange()) {
        return;
    }
    m_assistant->hidePill();
    m_suggestions->hide();
    const TextRange selection = m_textView->selectedRange();
    const bool refinable = EditorRules::isRefinable(m_textView->string(), selection);
    AITrigger trigger;
    switch (mode) {
    case EditorRules::AIMode::Refine:
        if (!refinable) {
            QApplication::beep();
            return;
        }
        trigger = AITrigger::refine(selection);
        break;
    case EditorRules::AIMode::Generate:
        trigger = AITrigger::generate(selection.end());
        break;
    case EditorRules::AIMode::Auto:
        trigger = refinable ? AITrigger::refine(selection) : AITrigger::generate(selection.location);
        break;
    }
    m_assistant->openMenu(trigger, m_textView);
}
