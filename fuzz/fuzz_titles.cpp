// Titles and excerpts taken from any body. (A heading with no text gives an
// empty title; the name shown is then "Untitled".)
#include "FuzzInput.h"
#include "store/Document.h"
#include "store/FrontmatterParser.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzInput::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString body = FuzzInput::text(data, size);
    const QString title = Document::deriveTitle(body);
    FuzzInput::require(!title.contains(u'\n'), "a title is one line");
    Document::cleanTitleLine(body);
    Document::excerpt(body);
    Document document;
    document.title = title;
    document.body = body;
    document.frontmatter = FrontmatterParser::extract(body).frontmatter;
    document.overrides = FrontmatterParser::extract(body).overrides;
    FuzzInput::require(!document.displayTitle().isEmpty(), "every document has a name");
    return 0;
}
