#include "editor/core/FileDropRules.h"

#include "editor/core/ImageTypes.h"
#include "store/Text.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace FileDropRules {

namespace {

QString lowerSuffix(const QString &fileNameOrPath)
{
    const QString name = QFileInfo(fileNameOrPath).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

std::optional<QString> decodeStrict(QStringConverter::Encoding encoding, QByteArrayView bytes)
{
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

const QSet<QString> &markdownExtensions()
{
    static const QSet<QString> extensions{u"md"_s,   u"markdown"_s, u"mdown"_s, u"mkd"_s,
                                          u"mkdn"_s, u"mdwn"_s,     u"txt"_s};
    return extensions;
}

bool isMarkdownFile(const QString &fileNameOrPath)
{
    // "notes.md" and also ".md": the extension is what follows the last dot.
    return markdownExtensions().contains(lowerSuffix(fileNameOrPath));
}

bool isSupportedImage(const QString &fileNameOrPath)
{
    return ImageTypes::isAllowedImage(fileNameOrPath);
}

QString decodeText(const QByteArray &bytes)
{
    const QByteArrayView view(bytes);
    const bool utf16LE = view.startsWith("\xFF\xFE");
    const bool utf16BE = view.startsWith("\xFE\xFF");
    if (!utf16LE && !utf16BE) {
        if (auto text = decodeStrict(QStringConverter::Utf8, view))
            return *text;
    } else if (bytes.size() % 2 == 0) {
        const auto encoding = utf16LE ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
        if (auto text = decodeStrict(encoding, view.sliced(2)))
            return *text;
    }
    return QString::fromLatin1(bytes);
}

QString importName(const QString &fileName)
{
    QString name = fileName;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > 0)
        name.truncate(dot);
    name = Text::trimmedSpacesAndTabs(name);
    return name.isEmpty() ? u"Untitled"_s : name;
}

QString newTag()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toLower();
}

QString uploadPlaceholder(const QString &fileName, const QString &tag)
{
    return u"![Uploading "_s + fileName + u"\u2026](uploading:"_s + tag + u')';
}

QString imageMarkdown(const QString &altText, const QString &url)
{
    return u"!["_s + altText + u"]("_s + url + u')';
}

TextRange clamp(TextRange range, qsizetype length)
{
    const qsizetype location = std::clamp<qsizetype>(range.location, 0, length);
    const qsizetype rangeLength = std::clamp<qsizetype>(range.length, 0, length - location);
    return {location, rangeLength};
}

qsizetype caretAfterReplacement(TextRange found, qsizetype replacementLength, qsizetype caret,
                                qsizetype newLength)
{
    if (found.location < caret)
        return std::clamp<qsizetype>(caret + (replacementLength - found.length), 0, newLength);
    return std::clamp<qsizetype>(found.location + replacementLength, 0, newLength);
}

std::optional<QString> replaceFirst(const QString &text, const QString &find, const QString &replacement)
{
    if (find.isEmpty())
        return std::nullopt;
    const qsizetype at = text.indexOf(find);
    if (at < 0)
        return std::nullopt;
    QString result = text;
    result.replace(at, find.size(), replacement);
    return result;
}

} // namespace FileDropRules
