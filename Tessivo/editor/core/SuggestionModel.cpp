#include "editor/core/SuggestionModel.h"

SuggestionModel::SuggestionModel(QObject *parent) : QObject(parent) {}

void SuggestionModel::setItems(const QStringList &items)
{
    if (items == m_items) {
        return;
    }
    m_items = items;
    Q_EMIT itemsChanged();
}

void SuggestionModel::setSelection(int selection)
{
    if (selection == m_selection) {
        return;
    }
    m_selection = selection;
    Q_EMIT selectionChanged();
}

void SuggestionModel::move(int delta)
{
    const auto n = int(m_items.size());
    if (n == 0) {
        return;
    }
    setSelection(((m_selection + delta) % n + n) % n);
}
