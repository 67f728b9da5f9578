#include "widgets/core/DesktopMotion.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

namespace {

// GNOME: "false" turns its animations off. A missing schema or tool says
// nothing.
bool gnomeReduces(const QProcessEnvironment &environment)
{
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("gsettings"),
        environment.value(QStringLiteral("PATH")).split(u':', Qt::SkipEmptyParts));
    if (program.isEmpty())
        return false;
    QProcess gsettings;
    gsettings.setProcessEnvironment(environment);
    gsettings.setStandardInputFile(QProcess::nullDevice());
    gsettings.start(program, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                              QStringLiteral("enable-animations")});
    if (!gsettings.waitForFinished(2000)) {
        gsettings.kill();
        gsettings.waitForFinished(1000);
        return false;
    }
    return gsettings.exitStatus() == QProcess::NormalExit && gsettings.exitCode() == 0 &&
           gsettings.readAllStandardOutput().trimmed() == "false";
}

// KDE: the user's kdeglobals, then the system's, as KDE reads them; the
// first that sets the factor decides.
bool kdeReduces(const QProcessEnvironment &environment)
{
    const QString home = environment.value(QStringLiteral("HOME"));
    QStringList folders{environment.value(QStringLiteral("XDG_CONFIG_HOME"),
                                          home.isEmpty() ? QString() : home + QStringLiteral("/.config"))};
    folders += environment.value(QStringLiteral("XDG_CONFIG_DIRS"), QStringLiteral("/etc/xdg"))
                   .split(u':', Qt::SkipEmptyParts);
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(QStringLiteral("kdeglobals"));
        if (folder.isEmpty() || !QFile::exists(path))
            continue;
        const QVariant factor =
            QSettings(path, QSettings::IniFormat).value(QStringLiteral("KDE/AnimationDurationFactor"));
        if (!factor.isValid())
            continue;
        bool ok = false;
        const double value = factor.toString().trimmed().toDouble(&ok);
        return ok && value <= 0.0;
    }
    return false;
}

} // namespace

bool DesktopMotion::reduced(const QProcessEnvironment &environment)
{
    return environment.value(QStringLiteral("TESSIVO_REDUCE_MOTION")) == QLatin1String("1") ||
           kdeReduces(environment) || gnomeReduces(environment);
}
