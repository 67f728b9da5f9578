// Front matter: the block reader, the value parser and the strip offsets on
// any text.
#include "FuzzInput.h"
#include "store/FrontmatterParser.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzInput::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = FuzzInput::text(data, size);
    FrontmatterParser::parse(text);
    const FrontmatterParser::Extracted extracted = FrontmatterParser::extract(text);
    FrontmatterParser::serialize(extracted.frontmatter, extracted.overrides);
    const qsizetype offset = FrontmatterParser::strippedOffset(text);
    FuzzInput::require(offset >= 0 && offset <= text.size(), "the strip offset lies in the text");
    FuzzInput::require(FrontmatterParser::strip(text) == text.mid(offset),
                       "strip() keeps the text from its offset");
    FrontmatterParser::parseValue(text);
    FrontmatterParser::splitArrayItems(text);
    FrontmatterParser::quote(text);
    return 0;
}
