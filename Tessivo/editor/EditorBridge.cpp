#include "editor/EditorBridge.h"

#include "editor/ListContinuingTextView.h"

EditorBridge *EditorBridge::shared()
{
    static EditorBridge *instance = new EditorBridge;
    return instance;
}

ListContinuingTextView *EditorBridge::textView(const std::optional<QString> &documentID) const
{
    ListContinuingTextView *view = m_textView.data();
    // "In a window": part of a shown window, not a loose or hidden widget
    // (the editor is hidden, not destroyed, in preview mode).
    if (!view || view->isWindow() || !view->isVisible()) {
        return nullptr;
    }
    if (documentID && (!m_documentID || *m_documentID != *documentID)) {
        return nullptr;
    }
    return view;
}
