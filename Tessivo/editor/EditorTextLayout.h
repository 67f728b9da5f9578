#pragma once

#include <QPlainTextDocumentLayout>

// The editor's plain-text layout. An edit inside one paragraph lays out that
// paragraph here; everything else is Qt's. Qt's layout keeps the width of the
// widest paragraph for a horizontal scroll range, and whenever that paragraph
// shrinks it measures every paragraph of the text again to find the next
// widest: typing in the widest line of a 5 MB text cost some 7 ms a key. The
// editor wraps its lines at the view's width and has no horizontal scroll
// range, so the width it would find is never used.
class EditorTextLayout final : public QPlainTextDocumentLayout
{
    Q_OBJECT

public:
    explicit EditorTextLayout(QTextDocument *document);

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    // Lays out `block` again at the width its lines had; false (and nothing
    // done) when it has no layout to take the width from.
    bool relayOut(const QTextBlock &block);

    // The paragraph count Qt's layout last saw; -1 until it saw one.
    int m_blockCount = -1;
};
