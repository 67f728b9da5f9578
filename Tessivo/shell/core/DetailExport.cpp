#include "shell/core/DetailExport.h"

#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace DetailExport {

QString suggestedFileName(const QString &displayTitle, ExportFormat format)
{
    // A file name here cannot hold "/" (or NUL): the dialog would take
    // "Q3/Q4 plan" as a folder and the save would fail.
    QString name = displayTitle;
    name.replace(u'/', u'-').replace(QChar(0), u'-');
    return name + u'.' + fileExtension(format);
}

QString exportText(ExportFormat format, const QString &body, const QString &displayTitle, const QString &html)
{
    if (format == ExportFormat::Markdown)
        return body;
    return standaloneHTML(displayTitle, html);
}

bool writeAtomically(const QString &path, const QString &text, QString *error)
{
    QSaveFile file(path);
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size())
        return fail(file.errorString());
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace DetailExport
