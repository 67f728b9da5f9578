#pragma once

#include "editor/EditorAssistant.h"

class AIAssistant;
class AIMenuPanel;
class AIPillPanel;

// The AI writing tools of one editor: its menu and its pill.
//
//   auto *editor = new MarkdownTextView(store, new AssistantPanels(assistant), parent);
class AssistantPanels final : public EditorAssistant
{
    Q_OBJECT

public:
    // `assistant` (not owned) runs the menu's requests.
    explicit AssistantPanels(AIAssistant *assistant, QObject *parent = nullptr);

    AIMenuPanel *menu() const { return m_menu; }
    AIPillPanel *pill() const { return m_pill; }

    void showPill(AITrigger::Kind kind, const QRect &anchor, QWidget *window) override;
    void hidePill() override;
    void openMenu(const AITrigger &trigger, ListContinuingTextView *textView) override;
    void closeMenu(bool revert) override;
    bool isMenuVisible() const override;
    std::optional<TextRange> pendingRange() const override;
    void markPendingRange(ListContinuingTextView *textView) override;

private:
    AIMenuPanel *m_menu;
    AIPillPanel *m_pill;
};
