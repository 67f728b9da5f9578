#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// The closed set of images the application draws. Each raw value is the
// kebab-case form of the case name and names one SVG resource
// (":/icons/<raw value>.svg"); the artwork is drawn as a tinted template.
enum class IconName {
    alert,
    arrowUp,
    caretDown,
    chatBubble,
    check,
    checkDouble,
    chevronDown,
    chevronRight,
    cloud,
    cloudCheck,
    cloudSlash,
    cloudUpload,
    command,
    download,
    expand,
    eye,
    file,
    flame,
    folder,
    folderAdd,
    folderOpen,
    globe,
    image,
    imageUpload,
    lightBulb,
    link,
    lock,
    megaphone,
    moreHorizontal,
    panelLeft,
    pencil,
    pencilSquare,
    plus,
    plusSquare,
    quill,
    refresh,
    rocket,
    search,
    send,
    settings,
    shrink,
    smile,
    sparkles,
    textAlign,
    trash,
    user,
    viewColumns,
    wand,
    xMark,
};

namespace IconNames {

// Every case in declaration order.
const QList<IconName> &allCases();

// The kebab-case raw value, e.g. "arrow-up" for IconName::arrowUp.
QString rawValue(IconName name);

// Exact, case-sensitive inverse of rawValue(); nothing for any other text.
std::optional<IconName> fromRawValue(QStringView raw);

// The bootstrap-icons image the artwork was taken from (file base name in
// /usr/share/bootstrap-icons/svg). This table is the one place that decides
// which image stands for which name; resources/icons holds the copies.
QString artworkSource(IconName name);

// Resource path of the artwork, ":/icons/<raw value>.svg".
QString resourcePath(IconName name);

} // namespace IconNames
