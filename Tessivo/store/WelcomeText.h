#pragma once

#include <QString>

// The body of the document a first run starts with.
QString welcomeDocumentBody();
