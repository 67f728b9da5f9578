#pragma once

#include <QString>
#include <QStringList>

// The body of the document a first run starts with. `tips` are the lines of
// its "A few things to try" list; the app hands in the ones that name the
// shortcuts its menus bind.
QString welcomeDocumentBody(const QStringList &tips);
