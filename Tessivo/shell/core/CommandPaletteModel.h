#pragma once

#include "app/core/IconName.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class AppNotifications;
class DocumentStore;
class ViewModeSetting;

// The command palette's list and behaviour without the window: one list
// mixing documents, actions on the open document, collections and view
// commands, filtered by the fuzzy filter, with a wrapping keyboard
// selection. The list is built again after every change of the store or the
// view mode (when next read) and filtered again after every change of the
// query; filtering keeps the built entries and picks them by position.
class CommandPaletteModel final : public QObject
{
    Q_OBJECT

public:
    struct Item
    {
        QString id;
        QString section; // "Documents", "Actions", "Collections" or "View"
        QString title;   // the text shown and the only text searched
        IconName icon = IconName::file;
        std::optional<QString> detail;
        // Portable key-sequence text, shown only (it binds nothing).
        std::optional<QString> shortcut;
        bool checked = false;
        bool destructive = false;
        std::function<void()> action;
        // The span of `title` that gives way first when the row is too
        // narrow: the document's title in a move row, so that the
        // destination, the part that differs between rows, stays in view.
        qsizetype elidableFrom = -1;
        qsizetype elidableLength = 0;
    };

    // `store`, `viewMode` and `notifications` (where the commands are
    // posted) are not owned. `sidebarVisible` only picks the title of the
    // sidebar entry. `dismiss` closes the palette.
    CommandPaletteModel(DocumentStore *store, ViewModeSetting *viewMode, AppNotifications *notifications,
                        bool sidebarVisible, std::function<void()> dismiss, QObject *parent = nullptr);

    // The full list, in built order.
    QList<Item> allItems() const;
    // allItems() filtered and ordered by the current query.
    QList<Item> shownItems() const;
    // The same without copying: how many, and the entry at `index`
    // (0 <= index < shownCount()), valid until the list changes.
    int shownCount() const;
    const Item &shownItem(int index) const;
    // Whether a section header is drawn above the shown entry at `index`.
    bool shownStartsSection(int index) const;

    // Picks the title of the sidebar entry.
    void setSidebarVisible(bool visible);

    QString query() const { return m_query; }
    // Every change of the query puts the selection back on the first entry.
    void setQuery(const QString &query);

    int selection() const { return m_selection; }
    // Also used for hovering; any value is stored, runSelected() checks it.
    void setSelection(int index);
    // Moves by `step` through the shown list, wrapping at both ends;
    // nothing when the list is empty.
    void move(int step);

    // Return: when the selection indexes a shown entry, dismisses the
    // palette and then runs the entry; otherwise nothing (it stays open).
    void runSelected();
    // Click: runs the shown entry at `index`, then dismisses.
    void runItem(int index);
    // Escape: closes the palette without running anything.
    void dismiss();

    // Whether a section header is drawn above the shown entry at `index`.
    static bool startsSection(const QList<Item> &shown, int index);
    // "empty", "1 document", "2 documents".
    static QString documentCountDetail(int count);

Q_SIGNALS:
    // The list may have changed (store change or query change).
    void itemsChanged();
    void queryChanged();
    void selectionChanged(int selection);

private:
    QList<Item> buildItems() const;
    // Builds the list (and its lower-cased titles) when it was dropped.
    void ensureBuilt() const;
    // The store or the view mode changed: build the list again when read.
    void sourcesChanged();

    QPointer<DocumentStore> m_store;
    QPointer<ViewModeSetting> m_viewMode;
    QPointer<AppNotifications> m_notifications;
    bool m_sidebarVisible;
    std::function<void()> m_dismiss;
    QString m_query;
    int m_selection = 0;
    const QList<qsizetype> &shownIndices() const;

    mutable std::optional<QList<Item>> m_all;
    // The store or the view mode changed since m_all was built.
    mutable bool m_stale = false;
    // The titles of m_all, lower-cased for the filter.
    mutable QStringList m_lowered;
    // Positions in m_all, in shown order.
    mutable std::optional<QList<qsizetype>> m_shown;
    // The last filter's matches in list order, and its normalised query:
    // typing on narrows them instead of looking at every entry again.
    mutable QList<qsizetype> m_matched;
    mutable std::optional<QString> m_matchedQuery;
};
