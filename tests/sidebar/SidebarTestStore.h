#pragma once

#include "sidebar/core/SidebarModel.h"
#include "store/DocumentStore.h"
#include "store/Persistence.h"

#include <QMap>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

// A store on a temporary folder and settings of its own, so that sidebar
// tests never touch the user's documents or preferences.
class SidebarTestStore
{
public:
    SidebarTestStore()
    {
        QStandardPaths::setTestModeEnabled(true);
        Persistence::setBaseDirectoryOverride(m_dir.path());
        settings =
            std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        store = std::make_unique<DocumentStore>(settings.get());
    }

    ~SidebarTestStore()
    {
        model.reset();
        store.reset();
        Persistence::setBaseDirectoryOverride(QString());
    }

    SidebarModel &makeModel()
    {
        model = std::make_unique<SidebarModel>(store.get(), settings.get());
        return *model;
    }

    // A collection under `parent` (top level when empty).
    QString collection(const QString &name, const QString &parent = QString())
    {
        const auto c =
            store->createCollection(name, parent.isEmpty() ? std::nullopt : std::optional<QString>(parent));
        return c ? c->id : QString();
    }

    // A document whose title is `title`, filed in `collection` (unfiled when
    // empty). It becomes the active document, as any new document does.
    QString document(const QString &title, const QString &collection = QString(),
                     const QString &text = QString())
    {
        const QString body =
            QStringLiteral("# ") + title + (text.isEmpty() ? QString() : QStringLiteral("\n\n") + text);
        const Document d = store->createDocument(
            collection.isEmpty() ? std::nullopt : std::optional<QString>(collection), body);
        return d.id;
    }

    // A chain of nested collections named L1, L2, ... `levels` deep.
    QStringList chain(int levels, const QString &prefix = QStringLiteral("L"))
    {
        QStringList ids;
        for (int i = 1; i <= levels; ++i)
            ids.append(collection(prefix + QString::number(i), ids.isEmpty() ? QString() : ids.last()));
        return ids;
    }

    // The service's two fixed collections, "Blog" (site-blog) and "Site"
    // (personal-site), pulled in the order the store must not keep.
    void addFixed()
    {
        Collection site;
        site.id = QStringLiteral("personal-site");
        site.name = QStringLiteral("Site");
        site.createdAt = site.updatedAt = 1;
        Collection blog = site;
        blog.id = QStringLiteral("site-blog");
        blog.name = QStringLiteral("Blog");
        store->applyPull({}, {site, blog});
    }

    // Work > Notes > Deep; Tall > T2 > T3 (a subtree three levels high); Leaf
    // (top level, no children). Ids by name.
    QMap<QString, QString> tree()
    {
        QMap<QString, QString> ids;
        for (const auto &[name, parent] : {std::pair{"Work", ""},
                                           {"Notes", "Work"},
                                           {"Deep", "Notes"},
                                           {"Tall", ""},
                                           {"T2", "Tall"},
                                           {"T3", "T2"},
                                           {"Leaf", ""}})
            ids[name] = collection(name, ids.value(parent));
        return ids;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<DocumentStore> store;
    std::unique_ptr<SidebarModel> model;
};
