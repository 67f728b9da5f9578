#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

// The editor's find bar: Ctrl+F opens it over the text, typing searches as
// you type (ignoring case), Return and Shift+Return go to the next and the
// previous match, Escape closes it and returns to the text. Searching only
// moves the selection; it never changes the text.
class EditorFindBar final : public QWidget
{
    Q_OBJECT

public:
    explicit EditorFindBar(QPlainTextEdit *textView, QWidget *parent = nullptr);

    // Shows the bar with the field focused and its text selected.
    void open();
    void close();
    // Selects the next (or previous) match after (before) the selection,
    // wrapping at the end. False when there is none.
    bool findNext(bool backwards = false);
    QString query() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool find(bool backwards, bool fromSelectionStart);
    void showResult(bool found);

    QPlainTextEdit *m_textView;
    QLineEdit *m_field;
    QLabel *m_status;
};
