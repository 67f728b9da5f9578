#pragma once

#include <QHash>
#include <QString>

#include <atomic>

// Turns a document body into the HTML fragment the preview shows and the HTML
// export wraps into a page, and counts words and characters for the status bar.
//
// Both functions are pure: no state is kept between calls and they may run on
// any thread, several at once.
namespace MarkdownRenderer {

struct Stats
{
    qsizetype words = 0;
    qsizetype characters = 0;

    friend bool operator==(const Stats &, const Stats &) = default;
};

// The HTML fragment of `body`: front matter removed, math kept out of the
// Markdown parser and restored as span elements, wiki links and highlights
// turned into anchors and mark elements, the rest rendered by cmark-gfm.
// `titles` maps a display title (trimmed, lower-cased) to a document id.
// Returns the empty string when the library fails.
QString render(const QString &body, const QHash<QString, QString> &titles = {});

// The same, giving up (and returning the empty string) soon after
// `*cancelled` becomes true: a render superseded by newer text stops between
// its steps and never waits for the library behind other renders.
QString render(const QString &body, const QHash<QString, QString> &titles,
               const std::atomic<bool> *cancelled);

// The wiki-link and highlight rewrites of the prose lines of `markdown`, in
// one pass: wiki links first, then highlights outside them and outside code.
QString rewriteProse(const QString &markdown, const QHash<QString, QString> &titles);

// Words: maximal runs of non-white-space characters. Characters: extended
// grapheme clusters, white space and line breaks included. Front matter is
// counted too.
Stats stats(const QString &body);

} // namespace MarkdownRenderer
