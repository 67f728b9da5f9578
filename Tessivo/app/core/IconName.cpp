#include "app/core/IconName.h"

#include <QHash>

#include <array>

namespace {

struct Entry
{
    IconName name;
    const char16_t *raw;
    const char16_t *artwork;
};

constexpr std::array<Entry, 49> entries{{
    {IconName::alert, u"alert", u"exclamation-triangle"},
    {IconName::arrowUp, u"arrow-up", u"arrow-up"},
    {IconName::caretDown, u"caret-down", u"caret-down-fill"},
    {IconName::chatBubble, u"chat-bubble", u"chat"},
    {IconName::check, u"check", u"check2"},
    {IconName::checkDouble, u"check-double", u"check2-all"},
    {IconName::chevronDown, u"chevron-down", u"chevron-down"},
    {IconName::chevronRight, u"chevron-right", u"chevron-right"},
    {IconName::cloud, u"cloud", u"cloud"},
    {IconName::cloudCheck, u"cloud-check", u"cloud-check"},
    {IconName::cloudSlash, u"cloud-slash", u"cloud-slash"},
    {IconName::cloudUpload, u"cloud-upload", u"cloud-arrow-up"},
    {IconName::command, u"command", u"command"},
    {IconName::download, u"download", u"download"},
    {IconName::expand, u"expand", u"arrows-angle-expand"},
    {IconName::eye, u"eye", u"eye"},
    {IconName::file, u"file", u"file-earmark-text"},
    {IconName::flame, u"flame", u"fire"},
    {IconName::folder, u"folder", u"folder"},
    {IconName::folderAdd, u"folder-add", u"folder-plus"},
    {IconName::folderOpen, u"folder-open", u"folder2-open"},
    {IconName::globe, u"globe", u"globe"},
    {IconName::image, u"image", u"image"},
    {IconName::imageUpload, u"image-upload", u"upload"},
    {IconName::lightBulb, u"light-bulb", u"lightbulb"},
    {IconName::link, u"link", u"link-45deg"},
    {IconName::lock, u"lock", u"lock"},
    {IconName::megaphone, u"megaphone", u"megaphone"},
    {IconName::moreHorizontal, u"more-horizontal", u"three-dots"},
    {IconName::panelLeft, u"panel-left", u"layout-sidebar"},
    {IconName::pencil, u"pencil", u"pencil"},
    {IconName::pencilSquare, u"pencil-square", u"pencil-square"},
    {IconName::plus, u"plus", u"plus-lg"},
    {IconName::plusSquare, u"plus-square", u"plus-square"},
    {IconName::quill, u"quill", u"vector-pen"},
    {IconName::refresh, u"refresh", u"arrow-clockwise"},
    {IconName::rocket, u"rocket", u"rocket-takeoff"},
    {IconName::search, u"search", u"search"},
    {IconName::send, u"send", u"send"},
    {IconName::settings, u"settings", u"gear"},
    {IconName::shrink, u"shrink", u"arrows-angle-contract"},
    {IconName::smile, u"smile", u"emoji-smile"},
    {IconName::sparkles, u"sparkles", u"stars"},
    {IconName::textAlign, u"text-align", u"text-left"},
    {IconName::trash, u"trash", u"trash3"},
    {IconName::user, u"user", u"person"},
    {IconName::viewColumns, u"view-columns", u"layout-split"},
    {IconName::wand, u"wand", u"magic"},
    {IconName::xMark, u"x-mark", u"x-lg"},
}};

const Entry &entry(IconName name)
{
    // The table is in declaration order, so the case value is its index.
    return entries[static_cast<std::size_t>(name)];
}

} // namespace

namespace IconNames {

const QList<IconName> &allCases()
{
    static const QList<IconName> cases = [] {
        QList<IconName> list;
        for (const Entry &e : entries)
            list.append(e.name);
        return list;
    }();
    return cases;
}

QString rawValue(IconName name)
{
    return QString::fromUtf16(entry(name).raw);
}

std::optional<IconName> fromRawValue(QStringView raw)
{
    static const QHash<QString, IconName> byRaw = [] {
        QHash<QString, IconName> map;
        for (const Entry &e : entries)
            map.insert(QString::fromUtf16(e.raw), e.name);
        return map;
    }();
    const auto it = byRaw.constFind(raw.toString());
    if (it == byRaw.constEnd())
        return std::nullopt;
    return *it;
}

QString artworkSource(IconName name)
{
    return QString::fromUtf16(entry(name).artwork);
}

QString resourcePath(IconName name)
{
    return QStringLiteral(":/icons/") + rawValue(name) + QStringLiteral(".svg");
}

} // namespace IconNames
