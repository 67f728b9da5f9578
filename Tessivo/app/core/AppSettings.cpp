#include "app/core/AppSettings.h"

#include "store/CappedFileRead.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

QStringList AppSettings::setAsideUnusableFiles(const QString &configFolder)
{
    const QString folder = configFolder.isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                               : configFolder;
    if (folder.isEmpty())
        return {};
    // The files a default QSettings of this app reads in the user's scope:
    // the application's, then the organisation's.
    const QString organization = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();
    QStringList files;
    if (!organization.isEmpty()) {
        if (!application.isEmpty())
            files << folder + u'/' + organization + u'/' + application + QStringLiteral(".conf");
        files << folder + u'/' + organization + QStringLiteral(".conf");
    }
    QStringList moved;
    for (const QString &file : files) {
        QString why;
        const CappedFileRead::Status status = CappedFileRead::check(file, FileBounds::settings, &why);
        if (status != CappedFileRead::Status::notRegular && status != CappedFileRead::Status::tooLarge)
            continue;
        const QString stem = file + QStringLiteral(".unreadable");
        for (int n = 0; n < 1000; ++n) {
            const QString target = n == 0 ? stem : stem + u'.' + QString::number(n);
            struct stat there;
            if (::lstat(QFile::encodeName(target).constData(), &there) == 0)
                continue;
            if (::rename(QFile::encodeName(file).constData(), QFile::encodeName(target).constData()) == 0) {
                qWarning("[settings] moved %s aside as %s (%s): starting from default settings",
                         qPrintable(file), qPrintable(QFileInfo(target).fileName()), qPrintable(why));
                moved << file;
            } else {
                qWarning("[settings] could not move %s aside (%s): %s", qPrintable(file), qPrintable(why),
                         strerror(errno));
            }
            break;
        }
    }
    return moved;
}

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
