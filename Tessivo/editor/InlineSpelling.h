#pragma once

#include "store/TextRange.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class ListContinuingTextView;
class QMenu;
class SpellChecker;

// Continuous spell checking of one editor: misspelled prose words on screen
// are underlined, and the context menu offers corrections and "Add to
// Dictionary". Checks run shortly after typing pauses or the view scrolls,
// over the visible lines only, so typing never waits for them. Underlines
// are display decorations: they never touch the text or its undo history.
class InlineSpelling final : public QObject
{
    Q_OBJECT

public:
    InlineSpelling(ListContinuingTextView *view, SpellChecker *checker, QObject *parent = nullptr);
    ~InlineSpelling() override;

    // Checks the visible lines soon (debounced).
    void schedule();
    // Checks the visible lines now.
    void checkNow();

    // The underlined ranges (text positions), in text order.
    QList<TextRange> misspelledRanges() const;

    // Puts the corrections for the misspelled word at `position` (if any) at
    // the top of `menu`.
    void extendContextMenu(QMenu *menu, qsizetype position);

    // Delay between the last change and a check.
    static constexpr int delayMilliseconds = 250;
    // Lines longer than this are checked around their visible part only,
    // `lineMargin` characters either side of it.
    static constexpr qsizetype longLine = 20000;
    static constexpr qsizetype lineMargin = 2000;
    // Lines longer than this are not checked at all: the text view takes
    // time in proportion to the whole line for every underline it is given.
    static constexpr qsizetype longestCheckedLine = 1000000;

Q_SIGNALS:
    void checked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<ListContinuingTextView> m_view;
    // Kept apart from the view: resize events reach the filter while the
    // view is being destroyed, when it must no longer be called.
    QPointer<QWidget> m_viewport;
    SpellChecker *m_checker;
    QTimer m_timer;
};
