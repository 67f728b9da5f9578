#include "store/StoreUIState.h"

#include <QSettings>

namespace {

const QString activeDocumentKey = QStringLiteral("activeDocumentID");

} // namespace

StoreUIState::StoreUIState(QSettings *settings) : m_settings(settings)
{
    if (!m_settings) {
        m_ownSettings = std::make_unique<QSettings>();
        m_settings = m_ownSettings.get();
    }
}

StoreUIState::~StoreUIState() = default;

bool StoreUIState::setActiveDocumentID(const QString &id)
{
    if (id == m_activeDocumentID) {
        return false;
    }
    m_activeDocumentID = id;
    if (id.isEmpty()) {
        m_settings->remove(activeDocumentKey);
    } else {
        m_settings->setValue(activeDocumentKey, id);
    }
    return true;
}

bool StoreUIState::setSearchText(const QString &text)
{
    if (text == m_searchText) {
        return false;
    }
    m_searchText = text;
    return true;
}

QString StoreUIState::savedActiveDocumentID() const
{
    return m_settings->value(activeDocumentKey).toString();
}
