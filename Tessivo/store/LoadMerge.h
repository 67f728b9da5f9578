#pragma once

#include "store/Collection.h"
#include "store/Document.h"
#include "store/Persistence.h"

#include <QList>

// Merging what a load read from disk into what the store already holds.
// Anything in memory was made or changed here while the files were being
// read (a global shortcut can create a document before the window has
// loaded): it is newer than its file and is kept as it is.
namespace LoadMerge {

struct Records
{
    QList<Document> documents;
    QList<Document> tombstones;
    QList<Collection> collections;
    QList<Collection> deletedCollections;
    Persistence::State state;
};

struct Read
{
    QList<Document> documents;
    QList<Collection> collections;
    Persistence::State state;
    // False when state.json was missing or unusable, so that `state` is the
    // default one and the dirty marks it held are lost.
    bool stateRead = true;
};

// Loaded live documents go after the local ones, newest first; loaded
// tombstones before the local ones; live collections in
// Collection::storeOrder; a record whose id is held locally is dropped.
// Dirty lists are joined (loaded first), slugs joined (local wins), the
// cursor is the larger, the welcome flag set when either is. An empty local
// state is simply replaced. Pure.
Records merge(const Records &local, Read read);

// Removes what saves cut short left under `base`, then reads every file
// there (see Persistence). Blocking; any thread.
Read readFrom(const QString &base);

} // namespace LoadMerge
