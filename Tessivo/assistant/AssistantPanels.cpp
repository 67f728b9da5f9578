#include "assistant/AssistantPanels.h"

#include "assistant/AIMenuPanel.h"
#include "assistant/AIPillPanel.h"

AssistantPanels::AssistantPanels(AIAssistant *assistant, QObject *parent)
    : EditorAssistant(parent), m_menu(new AIMenuPanel(assistant, this)), m_pill(new AIPillPanel(this))
{
    connect(m_pill, &AIPillPanel::pressed, this, [this](AIPillPanel::Kind kind) {
        Q_EMIT pillPressed(kind == AIPillPanel::Kind::Refine ? AITrigger::Kind::Refine
                                                             : AITrigger::Kind::Generate);
    });
}

void AssistantPanels::showPill(AITrigger::Kind kind, const QRect &anchor, QWidget *window)
{
    m_pill->show(kind == AITrigger::Kind::Refine ? AIPillPanel::Kind::Refine : AIPillPanel::Kind::Generate,
                 anchor, window);
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
