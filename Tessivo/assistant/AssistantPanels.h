#pragma once

#include "editor/EditorAssistant.h"

#include <functional>

class AIAssistant;
class AIMenuPanel;
class AIPillPanel;

// The AI writing tools of one editor: its menu and its pill.
//
//   auto *editor = new MarkdownTextView(store, new AssistantPanels(assistant, checkAccount), parent);
class AssistantPanels final : public EditorAssistant
{
    Q_OBJECT

public:
    // `assistant` (not owned) runs the menu's requests; `unauthorized` runs
    // when the service turned one away for want of a valid sign-in.
    AssistantPanels(AIAssistant *assistant, std::function<void()> unauthorized, QObject *parent = nullptr);

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
