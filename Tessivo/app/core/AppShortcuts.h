#pragma once

#include <QString>
#include <QStringList>

// Every keyboard shortcut of the menu bar, in Qt's portable notation. Menus
// bind them, and the palette and tooltips show them, from these same texts
// (converted to the platform's notation by the views).
//
// Delete Document is Ctrl+Shift+Backspace because Ctrl+Backspace deletes the
// previous word in every Linux editor. The palette keeps Ctrl+K: the editor gives way to the
// menus for the keys they bind, so Ctrl+K opens the palette there too.
namespace AppShortcuts {

inline const QString newDocument = QStringLiteral("Ctrl+N");
inline const QString newCollection = QStringLiteral("Ctrl+Shift+N");
inline const QString publishDocument = QStringLiteral("Ctrl+Shift+P");
inline const QString insertImage = QStringLiteral("Ctrl+Shift+I");
inline const QString aiAssistant = QStringLiteral("Ctrl+J");
inline const QString deleteDocument = QStringLiteral("Ctrl+Shift+Backspace");
inline const QString commandPalette = QStringLiteral("Ctrl+K");
inline const QString toggleSidebar = QStringLiteral("Meta+Ctrl+S");
inline const QString settings = QStringLiteral("Ctrl+,");
inline const QString quit = QStringLiteral("Ctrl+Q");

// Ctrl+1, Ctrl+2, Ctrl+3 for the view mode at zero-based `index`.
inline QString viewMode(int index)
{
    return QStringLiteral("Ctrl+%1").arg(index + 1);
}

// The tips of the welcome document, naming the shortcuts bound above.
inline QStringList welcomeTips()
{
    return {
        QStringLiteral("- Switch between **Editor**, **Split**, and **Preview** with %1, %2, %3.")
            .arg(viewMode(0), viewMode(1), viewMode(2)),
        QStringLiteral(
            "- Press %1 for a new document, or set a global shortcut in Settings to start one from "
            "anywhere.")
            .arg(newDocument),
        QStringLiteral("- Lists continue themselves when you press Return."),
        QStringLiteral("- Publish a read-only link with %1.").arg(publishDocument),
    };
}

} // namespace AppShortcuts
