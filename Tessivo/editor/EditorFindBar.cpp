#include "editor/EditorFindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QToolButton>

EditorFindBar::EditorFindBar(QPlainTextEdit *textView, QWidget *parent)
    : QWidget(parent), m_textView(textView), m_field(new QLineEdit(this)), m_status(new QLabel(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 4, 10, 4);
    m_field->setPlaceholderText(tr("Find"));
    m_field->setClearButtonEnabled(true);
    m_field->installEventFilter(this);
    auto *previous = new QToolButton(this);
    previous->setArrowType(Qt::UpArrow);
    previous->setToolTip(tr("Previous"));
    previous->setAutoRaise(true);
    auto *next = new QToolButton(this);
    next->setArrowType(Qt::DownArrow);
    next->setToolTip(tr("Next"));
    next->setAutoRaise(true);
    auto *done = new QToolButton(this);
    done->setText(tr("Done"));
    done->setAutoRaise(true);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_status);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(done);

    connect(m_field, &QLineEdit::textEdited, this, [this] { showResult(find(false, true)); });
    connect(previous, &QToolButton::clicked, this, [this] { findNext(true); });
    connect(next, &QToolButton::clicked, this, [this] { findNext(false); });
    connect(done, &QToolButton::clicked, this, &EditorFindBar::close);
    hide();
}

QString EditorFindBar::query() const
{
    return m_field->text();
}

void EditorFindBar::open()
{
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void EditorFindBar::close()
{
    hide();
    m_status->clear();
    m_textView->setFocus(Qt::OtherFocusReason);
}

bool EditorFindBar::findNext(bool backwards)
{
    const bool found = find(backwards, false);
    showResult(found);
    return found;
}

bool EditorFindBar::find(bool backwards, bool fromSelectionStart)
{
    const QString text = m_field->text();
    if (text.isEmpty()) {
        return false;
    }
    QTextDocument *document = m_textView->document();
    QTextCursor start = m_textView->textCursor();
    if (fromSelectionStart) {
        start.setPosition(start.selectionStart());
    }
    const QTextDocument::FindFlags flags =
        backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    QTextCursor match = document->find(text, start, flags);
    if (match.isNull()) {
        QTextCursor wrap(document);
        wrap.movePosition(backwards ? QTextCursor::End : QTextCursor::Start);
        match = document->find(text, wrap, flags);
    }
    if (match.isNull()) {
        return false;
    }
    m_textView->setTextCursor(match);
    m_textView->ensureCursorVisible();
    return true;
}

void EditorFindBar::showResult(bool found)
{
    m_status->setText(found || m_field->text().isEmpty() ? QString() : tr("Not found"));
}

bool EditorFindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            close();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            findNext(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
