#include "assistant/RefineAction.h"

const QList<RefineAction> &RefineAction::presets()
{
    // Filled in with the assistant itself; until then the menu offers none.
    static const QList<RefineAction> table;
    return table;
}
