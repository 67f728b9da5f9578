#pragma once

#include "store/TextRange.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <optional>

// The rules behind dropping files on the window, the editor or the preview:
// which files are imported, how their bytes become text, and the texts that
// stand in for an image while it uploads. Pure and thread-safe.
namespace FileDropRules {

// Lower-case extensions of files imported as documents.
const QSet<QString> &markdownExtensions();

// Classification looks at the name's extension only, never at the contents.
bool isMarkdownFile(const QString &fileNameOrPath);
bool isSupportedImage(const QString &fileNameOrPath);

// The text of an imported file. UTF-8 when the bytes are valid UTF-8 (a
// leading UTF-8 byte-order mark is dropped); UTF-16 only when the bytes begin
// with a UTF-16 byte-order mark and decode cleanly; otherwise ISO Latin-1,
// which accepts any bytes, so a file is never turned into unrelated script.
QString decodeText(const QByteArray &bytes);

// The document name for an imported file: its name without the extension
// (a leading dot is not an extension separator), trimmed of spaces and tabs,
// "Untitled" when nothing is left.
QString importName(const QString &fileName);

// A fresh tag that makes a placeholder unique: 8 lower-case hex digits.
QString newTag();

// "![Uploading <file name>…](uploading:<tag>)"
QString uploadPlaceholder(const QString &fileName, const QString &tag);

// "![<alt>](<url>)"
QString imageMarkdown(const QString &altText, const QString &url);

// `range` clamped into a text of `length` UTF-16 units.
TextRange clamp(TextRange range, qsizetype length);

// Where the caret goes after `found` (in a text whose caret was at
// `caret`) was replaced by `replacementLength` units and the new text has
// `newLength` units: a caret after the replaced text keeps its place in the
// surrounding text; otherwise it sits just after the replacement.
qsizetype caretAfterReplacement(TextRange found, qsizetype replacementLength, qsizetype caret,
                                qsizetype newLength);

// `text` with the first literal occurrence of `find` replaced; nothing when
// `find` does not occur (or is empty).
std::optional<QString> replaceFirst(const QString &text, const QString &find, const QString &replacement);

} // namespace FileDropRules
