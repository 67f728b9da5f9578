#include "assistant/core/AIMenuModel.h"

void AIMenuModel::setGenerate(bool generate)
{
    if (m_isGenerate != generate) {
        m_isGenerate = generate;
        Q_EMIT generateChanged();
    }
}

void AIMenuModel::setQuery(const QString &query)
{
    if (m_query != query) {
        m_query = query;
        Q_EMIT queryChanged();
    }
    setSelection(0);
    Q_EMIT relayoutRequested();
}

void AIMenuModel::setSelection(int selection)
{
    if (m_selection != selection) {
        m_selection = selection;
        Q_EMIT selectionChanged();
    }
}

void AIMenuModel::setPhase(const Phase &phase)
{
    if (!(m_phase == phase)) {
        m_phase = phase;
        Q_EMIT phaseChanged();
    }
    Q_EMIT relayoutRequested();
}

void AIMenuModel::requestFocus()
{
    ++m_focusTick;
    Q_EMIT focusTickChanged();
}

void AIMenuModel::setHeaderHeight(double height)
{
    if (m_headerHeight != height) {
        m_headerHeight = height;
        Q_EMIT headerHeightChanged();
        Q_EMIT relayoutRequested();
    }
}

QList<RefineAction> AIMenuModel::filteredPresets() const
{
    return m_isGenerate ? QList<RefineAction>() : RefineAction::filtered(m_query);
}

bool AIMenuModel::showsCustomRow() const
{
    return !m_isGenerate && !m_query.trimmed().isEmpty();
}

int AIMenuModel::rowCount() const
{
    return int(filteredPresets().size()) + (showsCustomRow() ? 1 : 0);
}

void AIMenuModel::moveSelection(int delta)
{
    const int n = rowCount();
    if (n >= 1) {
        setSelection(((m_selection + delta) % n + n) % n);
    }
}

void AIMenuModel::submit()
{
    if (m_isGenerate) {
        Q_EMIT customChosen();
        return;
    }
    int i = m_selection;
    if (showsCustomRow()) {
        if (i == 0) {
            Q_EMIT customChosen();
            return;
        }
        --i;
    }
    const QList<RefineAction> presets = filteredPresets();
    if (i >= 0 && i < presets.size()) {
        Q_EMIT presetChosen(presets.at(i));
    }
}
