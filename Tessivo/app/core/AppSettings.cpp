#include "app/core/AppSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

AppSettings::AppSettings(QSettings *settings)
    : m_own(settings ? nullptr : std::make_unique<QSettings>()), m_settings(settings ? settings : m_own.get())
{}

AppSettings::~AppSettings() = default;

std::optional<bool> AppSettings::sidebarVisible() const
{
    const QVariant value = m_settings->value(sidebarVisibleKey);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

void AppSettings::setSidebarVisible(bool visible)
{
    m_settings->setValue(sidebarVisibleKey, visible);
}

QByteArray AppSettings::mainWindowGeometry() const
{
    const QVariant value = m_settings->value(mainWindowGeometryKey);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

void AppSettings::setMainWindowGeometry(const QByteArray &geometry)
{
    m_settings->setValue(mainWindowGeometryKey, geometry);
}

QString AppSettings::viewMode() const
{
    return m_settings->value(viewModeKey, QStringLiteral("split")).toString();
}

void AppSettings::setViewMode(const QString &raw)
{
    m_settings->setValue(viewModeKey, raw);
}

QString AppSettings::collapsedCollections() const
{
    return m_settings->value(collapsedCollectionsKey).toString();
}

void AppSettings::setCollapsedCollections(const QString &encoded)
{
    m_settings->setValue(collapsedCollectionsKey, encoded);
}

QString AppSettings::dialogFolder() const
{
    const QString last = m_settings->value(dialogFolderKey).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

void AppSettings::rememberDialogChoice(const QString &chosenPath)
{
    if (chosenPath.isEmpty())
        return;
    m_settings->setValue(dialogFolderKey, QFileInfo(chosenPath).absolutePath());
}
