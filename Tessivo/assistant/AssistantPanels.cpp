#include "assistant/AssistantPanels.h"

#include "assistant/AIMenuPanel.h"
#include "assistant/AIPillPanel.h"

AssistantPanels::AssistantPanels(AIAssistant *assistant, std::function<void()> unauthorized, QObject *parent)
    : EditorAssistant(parent), m_menu(new AIMenuPanel(this, assistant, std::move(unauthorized))),
      m_pill(new AIPillPanel(this))
{
    connect(m_pill, &AIPillPanel::pressed, this, &EditorAssistant::pillPressed);
    connect(m_pill, &AIPillPanel::placementStale, this, &EditorAssistant::pillPlacementStale);
}

void AssistantPanels::showPill(AITrigger::Kind kind, const QRect &anchor, QWidget *window)
{
    m_pill->show(kind, anchor, window);
}

void AssistantPanels::hidePill()
{
    m_pill->hide();
}

void AssistantPanels::openMenu(const AITrigger &trigger, ListContinuingTextView *textView)
{
    m_menu->show(trigger, textView);
}

void AssistantPanels::closeMenu(bool revert)
{
    m_menu->close(revert);
}

bool AssistantPanels::isMenuVisible() const
{
    return m_menu->isVisible();
}

std::optional<TextRange> AssistantPanels::pendingRange() const
{
    return m_menu->pendingRange();
}

void AssistantPanels::markPendingRange(ListContinuingTextView *textView)
{
    AIMenuPanel::setHighlight(m_menu->pendingRange(), textView);
}
