#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One entry of a sidebar menu, as data. The view turns a list of these into
// a menu and hands the chosen entry back to SidebarModel::trigger().
struct SidebarMenuItem
{
    enum class Kind { Action, Separator, Submenu };

    enum class Command {
        None,
        NewDocument,              // subject: collection
        OpenURL,                  // url
        NewSubcollection,         // subject: parent collection
        RenameCollection,         // subject: collection
        MoveCollection,           // subject: collection, target: new parent or top level
        DeleteCollection,         // subject: collection
        MoveDocument,             // subject: document, target: collection or none
        NewCollectionForDocument, // subject: document
        DeleteDocument,           // subject: document
    };

    Kind kind = Kind::Action;
    QString title;
    Command command = Command::None;
    QString subject;
    std::optional<QString> target;
    QUrl url;
    // Marks the current place in a "Move to" submenu (drawn with the check image).
    bool checked = false;
    bool enabled = true;
    bool destructive = false;
    // Collection moves chosen from a menu slide rows to their new places.
    bool animated = false;
    QList<SidebarMenuItem> children;

    static SidebarMenuItem separator()
    {
        SidebarMenuItem item;
        item.kind = Kind::Separator;
        return item;
    }

    friend bool operator==(const SidebarMenuItem &, const SidebarMenuItem &) = default;
};
