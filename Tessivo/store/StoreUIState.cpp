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
    m_mirrorDue = true;
    return true;
}

void StoreUIState::writeMirror()
{
    if (!m_mirrorDue) {
        return;
    }
    m_mirrorDue = false;
    // Even a write of what is there rewrites the file.
    if (m_activeDocumentID.isEmpty()) {
        if (m_settings->contains(activeDocumentKey)) {
            m_settings->remove(activeDocumentKey);
        }
    } else if (m_settings->value(activeDocumentKey).toString() != m_activeDocumentID) {
        m_settings->setValue(activeDocumentKey, m_activeDocumentID);
    }
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
