// The type-to-filter matcher: a query against a list of titles.
#include "FuzzInput.h"
#include "store/FuzzyFilter.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzInput::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QList<QString> parts = FuzzInput::parts(data, size, 8);
    const QString query = parts.takeFirst();
    const QStringList kept = fuzzyFilter(QStringList(parts), query);
    FuzzInput::require(kept.size() <= parts.size(), "the filter keeps no more than it gets");
    for (const QString &title : kept) {
        FuzzInput::require(parts.contains(title), "the filter keeps only entries it got");
    }
    if (fuzzyNormalizedQuery(query).isEmpty()) {
        FuzzInput::require(kept.size() == parts.size(), "a blank query keeps every entry");
    }
    for (const QString &title : std::as_const(parts)) {
        fuzzyScore(fuzzyNormalizedQuery(query), title.toLower());
    }
    return 0;
}
