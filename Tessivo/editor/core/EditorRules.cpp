#include "editor/core/EditorRules.h"

#include "app/core/AppNotifications.h"
#include "store/Text.h"

#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace EditorRules {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Every break that ends a line for the text system, also the ones the view
// shows inside one block (line separator, next line).
bool isLineEnd(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == 0x85 || u == 0x2028 || u == 0x2029;
}

} // namespace

QString nextMarker(const QString &marker)
{
    if (marker.size() < 2) {
        return marker; // a bullet
    }
    const QChar delimiter = marker.back();
    const QStringView digits = QStringView(marker).chopped(1);
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok, 10);
    if (!ok || number == std::numeric_limits<qint64>::max()) {
        return marker;
    }
    return QString::number(number + 1) + delimiter;
}

ReturnAction returnAction(const QString &line, qsizetype caretInLine)
{
    static const QRegularExpression marker =
        Text::regex(QStringLiteral(R"(^([ \t]*)([-*+]|\d+[.)])[ \t]+(\[[ xX]\][ \t]+)?)"));
    const QRegularExpressionMatch match = marker.match(line);
    if (!match.hasMatch()) {
        return {};
    }
    const qsizetype matchLength = match.capturedLength(0);
    if (caretInLine < matchLength) {
        return {};
    }
    QStringView rest = QStringView(line).mid(matchLength);
    while (!rest.isEmpty() && isBlank(rest.front())) {
        rest = rest.mid(1);
    }
    while (!rest.isEmpty() && isBlank(rest.back())) {
        rest.chop(1);
    }
    if (rest.isEmpty()) {
        return {ReturnAction::Kind::EndList, TextRange{0, matchLength}, QString()};
    }
    QString insertion = QStringLiteral("\n") + match.captured(1) + nextMarker(match.captured(2)) + u' ';
    if (match.capturedLength(3) > 0) {
        insertion += QStringLiteral("[ ] ");
    }
    return {ReturnAction::Kind::Continue, TextRange{}, insertion};
}

std::optional<TextRange> wikiLinkQuery(const QString &linePrefix)
{
    static const QRegularExpression open = Text::regex(QStringLiteral(R"(\[\[([^\]\n]*)$)"));
    // "$" would also match before a final line break; the prefix never holds
    // one, but an exact end is what is meant.
    const QRegularExpressionMatch match = open.match(linePrefix);
    if (!match.hasMatch() || match.capturedEnd(0) != linePrefix.size()) {
        return std::nullopt;
    }
    return TextRange{match.capturedStart(1), match.capturedLength(1)};
}

QRect suggestionPanelFrame(const QRect &anchor, qsizetype itemCount, const std::optional<QRect> &available)
{
    const int rows = int(std::min<qsizetype>(itemCount, suggestionVisibleRows));
    const int height = 12 + rows * suggestionRowHeight;
    int x = anchor.left() - 8;
    int y = anchor.top() + anchor.height() + 4;
    if (available) {
        const int availableBottom = available->top() + available->height();
        if (y + height > availableBottom) {
            y = anchor.top() - 4 - height;
        }
        x = std::max(x, available->left());
        x = std::min(x, available->left() + available->width() - suggestionPanelWidth);
    }
    return QRect(x, y, suggestionPanelWidth, height);
}

bool isRefinable(const QString &text, TextRange selection)
{
    if (selection.length < 1 || !selection.fitsIn(text.size())) {
        return false;
    }
    const QStringView part = QStringView(text).mid(selection.location, selection.length);
    return std::any_of(part.begin(), part.end(),
                       [](QChar c) { return !Text::isWhitespaceOrNewline(c.unicode()); });
}

TextRange lineRange(const QString &text, qsizetype position)
{
    position = std::clamp<qsizetype>(position, 0, text.size());
    qsizetype start = position;
    while (start > 0 && !isLineEnd(text.at(start - 1))) {
        --start;
    }
    qsizetype end = position;
    while (end < text.size() && !isLineEnd(text.at(end))) {
        ++end;
    }
    if (end < text.size()) {
        end += (text.at(end) == u'\r' && end + 1 < text.size() && text.at(end + 1) == u'\n') ? 2 : 1;
    }
    return TextRange{start, end - start};
}

bool isBlankLine(const QString &text, qsizetype position)
{
    const TextRange line = lineRange(text, position);
    const QStringView part = QStringView(text).mid(line.location, line.length);
    return std::all_of(part.begin(), part.end(),
                       [](QChar c) { return Text::isWhitespaceOrNewline(c.unicode()); });
}

AIMode aiModeFromUserInfo(const QVariantMap &userInfo)
{
    const QVariant value = userInfo.value(AppNotifications::modeKey);
    if (value.typeId() != QMetaType::QString) {
        return AIMode::Auto;
    }
    const QString mode = value.toString();
    if (mode == AppNotifications::refineMode) {
        return AIMode::Refine;
    }
    if (mode == AppNotifications::generateMode) {
        return AIMode::Generate;
    }
    return AIMode::Auto;
}

} // namespace EditorRules
