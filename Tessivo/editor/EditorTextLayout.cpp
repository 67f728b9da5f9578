#include "editor/EditorTextLayout.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <cmath>

EditorTextLayout::EditorTextLayout(QTextDocument *document) : QPlainTextDocumentLayout(document) {}

void EditorTextLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    QTextDocument *doc = document();
    const QTextBlock block = doc->findBlock(from);
    const bool insideOneBlock = block.isValid() && block.length() > 0 &&
                                block == doc->findBlock(std::max(0, from + charsRemoved + charsAdded - 1));
    if (insideOneBlock && doc->blockCount() == m_blockCount) {
        const qreal oldHeight = blockBoundingRect(block).height();
        const int oldLineCount = doc->lineCount();
        if (relayOut(block)) {
            if (blockBoundingRect(block).height() == oldHeight) {
                Q_EMIT updateBlock(block);
                return;
            }
            if (doc->lineCount() != oldLineCount) {
                Q_EMIT documentSizeChanged(documentSize());
            }
            // The paragraphs below moved.
            Q_EMIT update(QRectF(0., -doc->documentMargin(), 1000000000., 1000000000.));
            return;
        }
    }
    QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
    m_blockCount = doc->blockCount();
}

bool EditorTextLayout::relayOut(const QTextBlock &block)
{
    QTextLayout *layout = block.layout();
    const QTextOption option = document()->defaultTextOption();
    // A separator mark widens lines in ways only Qt's own layout accounts for.
    if (layout->lineCount() == 0 ||
        option.flags().testFlag(QTextOption::AddSpaceForLineAndParagraphSeparators)) {
        return false;
    }
    const qreal lineWidth = layout->lineAt(0).width();
    const qreal margin = document()->documentMargin();
    layout->setTextOption(option);
    layout->beginLayout();
    qreal height = 0;
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(margin, height));
        height += line.height();
        if (line.leading() < 0) {
            height += std::ceil(line.leading());
        }
    }
    layout->endLayout();
    QTextBlock changed = block;
    changed.setLineCount(block.isVisible() ? layout->lineCount() : 0);
    return true;
}
