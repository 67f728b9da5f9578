#include "platform/SchemeHandler.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace SchemeHandler {

namespace {

const QString entryName = QStringLiteral("tessivo.desktop");

// One quoted Exec argument: inside the quotes '"', '`', '$' and '\' take a
// backslash, and the file's own string escaping doubles every backslash;
// '%' is a field code unless doubled.
QString quotedArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += QStringLiteral("\\\\");
        quoted += c;
        if (c == u'%')
            quoted += u'%';
    }
    return quoted + u'"';
}

} // namespace

QString desktopEntry(const QString &binary)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tessivo\n"
                          "GenericName=Markdown Writer\n"
                          "Comment=Write Markdown documents with a live preview\n"
                          "Exec=%1 %u\n"
                          "Icon=tessivo\n"
                          "Terminal=false\n"
                          "Categories=Office;TextEditor;\n"
                          "MimeType=x-scheme-handler/tessivo;\n"
                          "StartupNotify=true\n"
                          "StartupWMClass=tessivo\n")
        .arg(quotedArgument(binary));
}

void registerBinary(const QString &binary)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/applications");
    const QString path = folder + u'/' + entryName;
    const QByteArray text = desktopEntry(binary).toUtf8();
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == text)
        return;
    QSaveFile file(path);
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || file.write(text) != text.size() ||
        !file.commit()) {
        qWarning("[shell] couldn't write the desktop entry %s", qPrintable(path));
        return;
    }
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty() ||
        !QProcess::startDetached(
            xdgMime, {QStringLiteral("default"), entryName, QStringLiteral("x-scheme-handler/tessivo")})) {
        qWarning("[shell] xdg-mime is missing: the browser can't hand the sign-in back to Tessivo");
    }
}

} // namespace SchemeHandler
