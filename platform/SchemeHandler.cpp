#include "platform/SchemeHandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace SchemeHandler {

namespace {

const QString entryName = QStringLiteral("tessivo.desktop");

// One quoted Exec argument: inside the quotes '"', '`', '$' and '\' take a
// backslash, and the file's own string escaping doubles every backslash;
// '%' is a field code unless doubled. Only for a path no link could spare
// from quoting: xdg-open's generic mode can't run it.
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

bool needsNoQuoting(const QString &path)
{
    // The characters the desktop entry format reserves, white space and
    // field codes aside, every printable ASCII character may stand bare.
    static const QString reserved = QStringLiteral("\"'\\><~|&;$*?#()`%=");
    if (path.isEmpty())
        return false;
    for (const QChar c : path) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f || reserved.contains(c))
            return false;
    }
    return true;
}

QString desktopEntry(const QString &program)
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
        .arg(needsNoQuoting(program) ? program : quotedArgument(program));
}

QString programFor(const QString &binary)
{
    if (needsNoQuoting(binary))
        return binary;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/tessivo/bin");
    const QString link = folder + QStringLiteral("/tessivo");
    const QFileInfo existing(link);
    if (existing.isSymLink() && existing.symLinkTarget() == binary)
        return link;
    if ((existing.exists() || existing.isSymLink()) && !QFile::remove(link))
        return {};
    if (!QDir().mkpath(folder) || !QFile::link(binary, link))
        return {};
    return link;
}

void registerBinary(const QString &binary)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/applications");
    const QString path = folder + u'/' + entryName;
    QString program = programFor(binary);
    if (program.isEmpty()) {
        qWarning("[shell] couldn't link the binary to a plain path: browsers on some desktops can't hand "
                 "the sign-in back");
        program = binary;
    }
    const QByteArray text = desktopEntry(program).toUtf8();
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
