#include "editor/MarkdownTextView.h"

#include "assistant/AIMenuPanel.h"
#include "assistant/AIPillPanel.h"
#include "editor/EditorBridge.h"
#include "editor/EditorFindBar.h"
#include "editor/InlineSpelling.h"
#include "editor/ListContinuingTextView.h"
#include "editor/SpellChecker.h"
#include "editor/SuggestionPanel.h"
#include "editor/SyntaxHighlighter.h"
#include "shell/core/AppNotifications.h"
#include "store/DocumentStore.h"
#include "store/FuzzyFilter.h"

#include <QAction>
#include <QApplication>
#include <QScrollBar>
#include <QVBoxLayout>

MarkdownTextView::MarkdownTextView(DocumentStore *store, QWidget *parent)
    : QWidget(parent), m_store(store), m_textView(new ListContinuingTextView(this)),
      m_suggestions(new SuggestionPanel(this)), m_aiMenu(new AIMenuPanel(this)),
      m_aiPill(new AIPillPanel(this)),
      m_spelling(new InlineSpelling(m_textView, SpellChecker::shared(), this))
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
    m_textView->setString(m_lastText);
    highlight();

    // Everything installed on other objects dies with this view (children
    // and connections with `this` as context), so nothing outlives it.
    m_suggestions->onAccept = [this](const QString &title, TextRange range) {
        acceptSuggestion(title, range);
    };
    m_textView->setKeyInterceptor([this](QKeyEvent *event) { return m_suggestions->handleKey(event); });
    m_textView->setClaimsNavigationKeys([this] { return m_suggestions->isVisible(); });
    m_textView->setOnResign([this] {
        m_suggestions->hide();
        m_aiPill->hide();
    });
    m_textView->setOnMouseUp([this] { updatePill(); });
    m_aiPill->onPress = [this](AIPillPanel::Kind kind) {
        openAIMenu(kind == AIPillPanel::Kind::Refine ? EditorRules::AIMode::Refine
                                                     : EditorRules::AIMode::Generate);
    };
    connect(AppNotifications::instance(), &AppNotifications::posted, this,
            &MarkdownTextView::handleNotification);
    m_textView->setOnImageTrigger([](TextRange range) {
        AppNotifications::post(AppNotifications::openMediaLibrary,
                               {{AppNotifications::rangeKey, QVariant::fromValue(range)}});
    });
    connect(m_textView->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        updateLinkSuggestions(false);
        updatePill();
    });
    m_textView->setContextMenuExtender(
        [this](QMenu *menu, qsizetype position) { m_spelling->extendContextMenu(menu, position); });
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

    EditorBridge::shared()->setTextView(m_textView);
    EditorBridge::shared()->setDocumentID(std::nullopt);
    m_spelling->schedule();
}

MarkdownTextView::~MarkdownTextView()
{
    // The text view outlives this body (children go in ~QWidget), and its
    // destruction still sends focus and selection events: nothing of this
    // object may be reached from it any more.
    m_textView->disconnect(this);
    m_textView->verticalScrollBar()->disconnect(this);
    m_textView->setKeyInterceptor({});
    m_textView->setClaimsNavigationKeys({});
    m_textView->setOnResign({});
    m_textView->setOnImageTrigger({});
    m_textView->setOnMouseUp({});
    m_textView->setContextMenuExtender({});
    m_suggestions->hide();
    m_aiMenu->close(true);
    m_aiPill->hide();
    EditorBridge *bridge = EditorBridge::shared();
    // A bridge that already points at a newer editor is left alone.
    if (bridge->registeredTextView() == m_textView || !bridge->registeredTextView()) {
        bridge->setTextView(nullptr);
        bridge->setDocumentID(std::nullopt);
    }
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
    m_aiMenu->close(true);
    m_documentID = id;
    EditorBridge::shared()->setDocumentID(id.isEmpty() ? std::nullopt : std::optional<QString>(id));
    m_suggestions->hide();
    m_aiPill->hide();
    m_lastText = boundText();
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
    if (bound == m_lastText || bound == m_textView->string()) {
        return;
    }
    // Changed elsewhere (sync, import): show it, keeping the caret's place
    // as far as the new text allows, and the scroll position.
    m_aiMenu->close(false);
    const qsizetype caret = m_textView->selectedRange().location;
    const int scroll = m_textView->verticalScrollBar()->value();
    m_lastText = bound;
    m_textView->setString(bound);
    m_coloured = false;
    highlight();
    m_textView->setSelectedRange({std::min(caret, bound.size()), 0});
    m_textView->verticalScrollBar()->setValue(scroll);
    m_spelling->schedule();
}

void MarkdownTextView::handleTextChange()
{
    m_lastText = m_textView->string();
    if (m_store && !m_documentID.isEmpty()) {
        m_writing = true;
        m_store->updateBody(m_lastText, m_documentID);
        m_writing = false;
    }
    scheduleHighlight();
    updateLinkSuggestions(!m_aiMenu->pendingRange().has_value());
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
    if (m_aiMenu->pendingRange()) {
        AIMenuPanel::setHighlight(m_aiMenu->pendingRange(), m_textView);
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
    QWidget *window = m_textView->window();
    const bool allowed = m_textView->isVisible() && window && window->isActiveWindow() &&
                         m_textView->hasFocus() && !m_aiMenu->isVisible() &&
                         !(QGuiApplication::mouseButtons() & Qt::LeftButton);
    if (!allowed) {
        m_aiPill->hide();
        return;
    }
    const QString &text = m_textView->string();
    const TextRange selection = m_textView->selectedRange();
    if (selection.length > 0) {
        if (EditorRules::isRefinable(text, selection)) {
            m_aiPill->show(AIPillPanel::Kind::Refine, m_textView->firstRectOnScreen(selection), window);
        } else {
            m_aiPill->hide();
        }
        return;
    }
    if (selection.location > text.size() || !EditorRules::isBlankLine(text, selection.location)) {
        m_aiPill->hide();
        return;
    }
    m_aiPill->show(AIPillPanel::Kind::Generate, m_textView->caretRectOnScreen(selection.location), window);
}

void MarkdownTextView::openAIMenu(EditorRules::AIMode mode)
{
    if (!m_textView->isVisible() || m_aiMenu->pendingRange()) {
        return;
    }
    m_aiPill->hide();
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
    m_aiMenu->show(trigger, m_textView);
}

void MarkdownTextView::handleNotification(const QString &name, const QVariantMap &userInfo)
{
    if (name == AppNotifications::aiAssist) {
        openAIMenu(EditorRules::aiModeFromUserInfo(userInfo));
    }
}
