#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class ListContinuingTextView;

// Remembers the live editor text view and the id of the document it shows,
// so that other components (file drop, the media library insertion) can edit
// the open document with undo and selection intact. One shared instance,
// main thread only.
//
//   if (auto *view = EditorBridge::shared()->textView(documentID))
//       view->replaceCharacters(range, snippet); // one undo step
class EditorBridge final : public QObject
{
    Q_OBJECT

public:
    static EditorBridge *shared();

    // The editor text view last registered; null when none (or destroyed).
    ListContinuingTextView *registeredTextView() const { return m_textView.data(); }
    void setTextView(ListContinuingTextView *view) { m_textView = view; }
    // The document that editor shows; nothing when none.
    const std::optional<QString> &documentID() const { return m_documentID; }
    void setDocumentID(const std::optional<QString> &id) { m_documentID = id; }

    // The registered view while it exists and is shown in a window, and, when
    // `documentID` is given, only while it shows that document. Else null.
    ListContinuingTextView *textView(const std::optional<QString> &documentID = std::nullopt) const;

private:
    EditorBridge() = default;

    QPointer<ListContinuingTextView> m_textView;
    std::optional<QString> m_documentID;
};
