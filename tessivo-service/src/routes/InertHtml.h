#pragma once

#include <QString>

namespace tessivo::server {

// The rendered HTML of a published document with nothing in it that could
// run or restyle the page: every tag is read the way a browser's HTML
// tokenizer reads it and written out again, with event handlers, style and
// script-bearing URLs left out; tags that would switch the browser into
// another parsing mode (script, style, textarea, svg…) or retarget the page
// (base, meta, form…) are shown as text, and comments are dropped.
QString inertHtml(const QString &html);

} // namespace tessivo::server
