#include "WelcomeText.h"

QString welcomeDocumentBody(const QStringList &tips)
{
    QStringList lines = {
        QStringLiteral("# Welcome to Tessivo"),
        QString(),
        QStringLiteral("A focused place to write. Everything you type is saved on this computer as you go."),
        QString(),
        QStringLiteral("## A few things to try"),
        QString(),
    };
    lines += tips;
    lines += {
        QString(),
        QStringLiteral("| Syntax | Result |"),
        QStringLiteral("| --- | --- |"),
        QStringLiteral("| `**bold**` | **bold** |"),
        QStringLiteral("| `~~strike~~` | ~~strike~~ |"),
        QStringLiteral("| `- [x] done` | a checked task |"),
        QString(),
        QStringLiteral("> Tip: the first heading becomes the document title."),
    };
    return lines.join(u'\n');
}
