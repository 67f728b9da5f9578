#pragma once

#include <QString>

// The sidebar's own user-visible texts, kept in one place so that the view,
// the model and the tests agree on every word.
namespace SidebarTexts {

inline QString documentsTitle()
{
    return QStringLiteral("Documents");
}
inline QString noCollectionTitle()
{
    return QStringLiteral("No collection");
}
inline QString noDocumentsYet()
{
    return QStringLiteral("No documents yet");
}
inline QString moveToTopLevel()
{
    return QStringLiteral("Move to top level");
}

inline QString newCollectionTitle()
{
    return QStringLiteral("New Collection");
}
inline QString newCollectionMessage()
{
    return QStringLiteral("Collections group documents in the sidebar.");
}
inline QString namePlaceholder()
{
    return QStringLiteral("Name");
}
inline QString create()
{
    return QStringLiteral("Create");
}
inline QString cancel()
{
    return QStringLiteral("Cancel");
}
inline QString renameCollectionTitle()
{
    return QStringLiteral("Rename Collection");
}
inline QString rename()
{
    return QStringLiteral("Rename");
}
inline QString deleteCollectionMessage()
{
    return QStringLiteral(
        "Its documents and sub-collections are kept: documents are left without a collection, "
        "sub-collections move to the top level.");
}
inline QString deleteCollectionButton()
{
    return QStringLiteral("Delete Collection");
}
inline QString deleteDocumentMessage()
{
    return QStringLiteral("This removes the document from every synced device.");
}
inline QString deleteDocumentButton()
{
    return QStringLiteral("Delete Document");
}
// The confirmation title: the name between curly quotes, then a question mark.
inline QString deleteTitle(const QString &name)
{
    return QStringLiteral("Delete \u201C%1\u201D?").arg(name);
}

inline QString openFilesMessage()
{
    return QStringLiteral("Open Markdown files as documents");
}

inline QString commandPaletteHelp()
{
    return QStringLiteral("Command palette (%1)");
}
inline QString newDocumentHelp()
{
    return QStringLiteral("New document (%1)");
}
inline QString moreWaysToCreate()
{
    return QStringLiteral("More ways to create");
}
inline QString optionsFor(const QString &name)
{
    return QStringLiteral("Options for ") + name;
}

} // namespace SidebarTexts
