// One huge single-line document (no line break at all) in the editor, next
// to a bare QPlainTextEdit with the same text: the floor the text view sets.
// Phases, each timed once per size:
//   open   setDocumentID() until painted, queued layout work included
//   key    one typed letter at the end of the line, until painted
//   spell  one spelling pass over the visible part
//   scroll a jump to the middle of the line, until painted
// The editor costs more than the floor only by what it adds on top (passes
// that should stop at their limits, or a second layout of the line).
//
// Run: QT_QPA_PLATFORM=offscreen ./bench_hugeline [megabytes...]   (default 1 5 20)
#include "app/core/AppNotifications.h"
#include "editor/InlineSpelling.h"
#include "editor/ListContinuingTextView.h"
#include "editor/MarkdownTextView.h"
#include "editor/SpellChecker.h"
#include "store/DocumentStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

QString hugeLine(qsizetype size)
{
    // Unknown words, so spelling has something to mark everywhere.
    static const QString chunk = QStringLiteral("qwzx vbnmr plokij uhygt frdesw aqzxsw ");
    QString text;
    text.reserve(size);
    while (text.size() < size) {
        text += chunk;
    }
    text.truncate(size);
    return text;
}

double timed(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

void typeLetter(QPlainTextEdit *view)
{
    QTextCursor cursor = view->textCursor();
    cursor.movePosition(QTextCursor::End);
    view->setTextCursor(cursor);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(view, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(view, &release);
    view->viewport()->repaint();
}

// Paints, then handles what the paint and the new text left queued (a
// scroller that appears, geometry changes) and paints again.
void settle(QPlainTextEdit *view)
{
    view->viewport()->repaint();
    QApplication::processEvents();
    view->viewport()->repaint();
}

void scrollToMiddle(QPlainTextEdit *view)
{
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    view->viewport()->repaint();
}

void report(qsizetype megabytes, const char *phase, double editor, double floor)
{
    std::printf("%4lld MB  %-6s  editor %10.1f ms   bare view %10.1f ms\n", static_cast<long long>(megabytes),
                phase, editor, floor);
    std::fflush(stdout);
}

void measure(qsizetype megabytes, SpellChecker *checker)
{
    const QString text = hugeLine(megabytes * 1000 * 1000);
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    DocumentStore store(dir.filePath(QStringLiteral("store")), &settings);
    const QString id = store.createDocument(std::nullopt, text).id;

    QWidget window;
    window.resize(900, 800);
    AppNotifications notifications;
    auto *editor = new MarkdownTextView(&store, &notifications, checker, nullptr, &window);
    editor->resize(900, 800);
    window.show();
    QApplication::processEvents();
    const double open = timed([&] {
        editor->setDocumentID(id);
        settle(editor->textView());
    });
    ListContinuingTextView *view = editor->textView();
    view->setFocus();

    // The floor: the same view with a scroller that is always there (one that
    // appears later narrows the text and lays it all out again).
    QPlainTextEdit bare;
    bare.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bare.setFont(view->font());
    bare.resize(view->size());
    bare.show();
    QApplication::processEvents();
    const double openFloor = timed([&] {
        bare.setPlainText(text);
        settle(&bare);
    });
    report(megabytes, "open", open, openFloor);

    report(megabytes, "key", timed([&] { typeLetter(view); }), timed([&] { typeLetter(&bare); }));

    InlineSpelling spelling(view, checker);
    report(megabytes, "spell", timed([&] { spelling.checkNow(); }), 0);
    report(megabytes, "scroll", timed([&] { scrollToMiddle(view); }), timed([&] { scrollToMiddle(&bare); }));
    report(megabytes, "spell", timed([&] { spelling.checkNow(); }), 0);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QList<qsizetype> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.append(QByteArray(argv[i]).toLongLong());
    }
    if (sizes.isEmpty()) {
        sizes = {1, 5, 20};
    }
    SpellChecker checker;
    checker.waitUntilReady();
    for (qsizetype megabytes : std::as_const(sizes)) {
        measure(megabytes, &checker);
    }
    return 0;
}
