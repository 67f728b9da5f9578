#include "assistant/AIPillPanel.h"

#include <QWidget>

AIPillPanel::AIPillPanel(QObject *parent) : QObject(parent) {}

void AIPillPanel::show(Kind kind, const QRect &anchor, QWidget *window)
{
    m_kind = kind;
    m_anchor = anchor;
    m_parentWindow = window;
    m_visible = true;
}

void AIPillPanel::hide()
{
    if (!m_visible) {
        return;
    }
    m_visible = false;
    m_kind.reset();
    m_parentWindow = nullptr;
}
