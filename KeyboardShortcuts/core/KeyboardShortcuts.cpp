#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QHash>
#include <QJsonDocument>
#include <QList>
#include <QSettings>

#include <memory>

namespace KeyboardShortcuts {

namespace {

QSettings *&settingsOverride()
{
    static QSettings *settings = nullptr;
    return settings;
}

QSettings &settings()
{
    if (QSettings *s = settingsOverride())
        return *s;
    static std::unique_ptr<QSettings> own;
    if (!own)
        own = std::make_unique<QSettings>();
    return *own;
}

QHash<QString, QList<std::function<void()>>> &handlers()
{
    static QHash<QString, QList<std::function<void()>>> map;
    return map;
}

} // namespace

Shortcut::Shortcut(Key key, Modifiers modifiers) : carbonKeyCode(key.rawValue)
{
    if (modifiers & command)
        carbonModifiers |= cmdKey;
    if (modifiers & shift)
        carbonModifiers |= shiftKey;
    if (modifiers & option)
        carbonModifiers |= optionKey;
    if (modifiers & control)
        carbonModifiers |= controlKey;
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
    const QJsonValue code = object.value(QStringLiteral("carbonKeyCode"));
    const QJsonValue modifiers = object.value(QStringLiteral("carbonModifiers"));
    if (!code.isDouble() || !modifiers.isDouble())
        return std::nullopt;
    Shortcut shortcut;
    shortcut.carbonKeyCode = code.toInt();
    shortcut.carbonModifiers = modifiers.toInt();
    return shortcut;
}

Name::Name(const QString &rawValue, const std::optional<Shortcut> &defaultShortcut)
    : m_rawValue(rawValue), m_defaultShortcut(defaultShortcut)
{
    if (defaultShortcut && !settings().contains(settingsKey()))
        settings().setValue(settingsKey(), defaultShortcut->toJson());
}

std::optional<Shortcut> getShortcut(const Name &name)
{
    const QVariant value = settings().value(name.settingsKey());
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return Shortcut::fromJson(value.toString());
}

void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name)
{
    if (shortcut)
        settings().setValue(name.settingsKey(), shortcut->toJson());
    else
        settings().setValue(name.settingsKey(), false);
}

void onKeyUp(const Name &name, std::function<void()> action)
{
    handlers()[name.rawValue()].append(std::move(action));
}

bool isRegistered(const Name &name)
{
    return handlers().contains(name.rawValue());
}

bool handleKeyUp(const QString &rawName)
{
    const auto it = handlers().constFind(rawName);
    if (it == handlers().constEnd() || it->isEmpty())
        return false;
    // Copy: an action may register further actions.
    const QList<std::function<void()>> actions = *it;
    for (const auto &action : actions)
        action();
    return true;
}

void removeAllHandlers()
{
    handlers().clear();
}

void setSettings(QSettings *s)
{
    settingsOverride() = s;
}

} // namespace KeyboardShortcuts
