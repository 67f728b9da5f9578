// The preview renderer with its passes (front matter, math, wiki links,
// highlights, cmark-gfm) and the statistics on any text.
#include "FuzzInput.h"
#include "editor/core/MarkdownRenderer.h"

#include <QHash>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzInput::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QString> parts = FuzzInput::parts(data, size, 2);
    // The second part names a document, so wiki links can resolve.
    QHash<QString, QString> titles;
    if (!parts[1].isEmpty()) {
        titles.insert(parts[1].trimmed().toLower(), QStringLiteral("doc-id"));
    }
    MarkdownRenderer::render(parts[0], titles);
    MarkdownRenderer::stats(parts[0]);
    return 0;
}
