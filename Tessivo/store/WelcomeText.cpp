#include "WelcomeText.h"

#include "shell/core/AppShortcuts.h"

#include <QStringList>

QString welcomeDocumentBody()
{
    static const QStringList lines = {
        QStringLiteral("# Welcome to Tessivo"),
        QString(),
        QStringLiteral("A focused place to write. Everything you type is saved on this computer as you go."),
        QString(),
        QStringLiteral("## A few things to try"),
        QString(),
        // The shortcuts named are the ones the menus bind.
        QStringLiteral("- Switch between **Editor**, **Split**, and **Preview** with %1, %2, %3.")
            .arg(AppShortcuts::viewMode(0), AppShortcuts::viewMode(1), AppShortcuts::viewMode(2)),
        QStringLiteral(
            "- Press %1 for a new document, or set a global shortcut in Settings to start one from "
            "anywhere.")
            .arg(AppShortcuts::newDocument),
        QStringLiteral("- Lists continue themselves when you press Return."),
        QStringLiteral("- Publish a read-only link with %1.").arg(AppShortcuts::publishDocument),
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
