#include "KeyboardShortcuts/core/Shortcut.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace KeyboardShortcuts {

namespace {

// A JSON number that is a whole number a double holds exactly.
std::optional<qint64> integer(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (std::trunc(d) != d || std::abs(d) > 9007199254740992.0)
        return std::nullopt;
    return static_cast<qint64>(d);
}

} // namespace

qint64 carbonModifiers(Qt::KeyboardModifiers modifiers)
{
    qint64 bits = 0;
    if (modifiers & command)
        bits |= cmdKey;
    if (modifiers & shift)
        bits |= shiftKey;
    if (modifiers & option)
        bits |= optionKey;
    if (modifiers & control)
        bits |= controlKey;
    return bits;
}

Qt::KeyboardModifiers modifiersFromCarbon(qint64 bits)
{
    Qt::KeyboardModifiers modifiers;
    if (bits & cmdKey)
        modifiers |= command;
    if (bits & shiftKey)
        modifiers |= shift;
    if (bits & optionKey)
        modifiers |= option;
    if (bits & controlKey)
        modifiers |= control;
    return modifiers;
}

Shortcut::Shortcut(Key key, Qt::KeyboardModifiers modifiers)
    : carbonKeyCode(key.rawValue), carbonModifiers(KeyboardShortcuts::carbonModifiers(modifiers))
{}

Shortcut Shortcut::fromCarbon(qint64 keyCode, qint64 modifiers)
{
    return Shortcut(Key{keyCode}, modifiersFromCarbon(modifiers));
}

QString Shortcut::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("carbonKeyCode"), carbonKeyCode);
    object.insert(QStringLiteral("carbonModifiers"), carbonModifiers);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<Shortcut> Shortcut::fromJson(const QString &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const std::optional<qint64> code = integer(object.value(QStringLiteral("carbonKeyCode")));
    const std::optional<qint64> modifiers = integer(object.value(QStringLiteral("carbonModifiers")));
    if (!code || !modifiers)
        return std::nullopt;
    Shortcut shortcut;
    shortcut.carbonKeyCode = *code;
    shortcut.carbonModifiers = *modifiers;
    return shortcut;
}

} // namespace KeyboardShortcuts
