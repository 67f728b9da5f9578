#include "KeyboardShortcuts/core/DisplayText.h"

#include "KeyboardShortcuts/core/KeyCodes.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace KeyboardShortcuts {

namespace {

constexpr int keypad = Qt::KeypadModifier;

struct SpecialKey
{
    qint64 keyCode;
    int qtKey;
    const char *name;
};

// Keys whose text is Qt's name rather than the layout's character.
constexpr SpecialKey specialKeys[] = {
    {36, Qt::Key_Return, "Return"},
    {51, Qt::Key_Backspace, "Backspace"},
    {117, Qt::Key_Delete, "Del"},
    {119, Qt::Key_End, "End"},
    {53, Qt::Key_Escape, "Esc"},
    {114, Qt::Key_Insert, "Ins"},
    {115, Qt::Key_Home, "Home"},
    {48, Qt::Key_Tab, "Tab"},
    {116, Qt::Key_PageUp, "PgUp"},
    {121, Qt::Key_PageDown, "PgDown"},
    {126, Qt::Key_Up, "Up"},
    {124, Qt::Key_Right, "Right"},
    {125, Qt::Key_Down, "Down"},
    {123, Qt::Key_Left, "Left"},
    {49, Qt::Key_Space, "Space"},
    {74, Qt::Key_VolumeMute, "Volume Mute"},
    {72, Qt::Key_VolumeUp, "Volume Up"},
    {73, Qt::Key_VolumeDown, "Volume Down"},
    {71, Qt::Key_NumLock, "NumLock"},
    {122, Qt::Key_F1, "F1"},
    {120, Qt::Key_F2, "F2"},
    {99, Qt::Key_F3, "F3"},
    {118, Qt::Key_F4, "F4"},
    {96, Qt::Key_F5, "F5"},
    {97, Qt::Key_F6, "F6"},
    {98, Qt::Key_F7, "F7"},
    {100, Qt::Key_F8, "F8"},
    {101, Qt::Key_F9, "F9"},
    {109, Qt::Key_F10, "F10"},
    {103, Qt::Key_F11, "F11"},
    {111, Qt::Key_F12, "F12"},
    {105, Qt::Key_F13, "F13"},
    {107, Qt::Key_F14, "F14"},
    {113, Qt::Key_F15, "F15"},
    {106, Qt::Key_F16, "F16"},
    {64, Qt::Key_F17, "F17"},
    {79, Qt::Key_F18, "F18"},
    {80, Qt::Key_F19, "F19"},
    {90, Qt::Key_F20, "F20"},
    {82, keypad | Qt::Key_0, "Num+0"},
    {83, keypad | Qt::Key_1, "Num+1"},
    {84, keypad | Qt::Key_2, "Num+2"},
    {85, keypad | Qt::Key_3, "Num+3"},
    {86, keypad | Qt::Key_4, "Num+4"},
    {87, keypad | Qt::Key_5, "Num+5"},
    {88, keypad | Qt::Key_6, "Num+6"},
    {89, keypad | Qt::Key_7, "Num+7"},
    {91, keypad | Qt::Key_8, "Num+8"},
    {92, keypad | Qt::Key_9, "Num+9"},
    {65, keypad | Qt::Key_Period, "Num+."},
    {75, keypad | Qt::Key_Slash, "Num+/"},
    {76, keypad | Qt::Key_Enter, "Num+Enter"},
    {81, keypad | Qt::Key_Equal, "Num+="},
    {78, keypad | Qt::Key_Minus, "Num+-"},
    {67, keypad | Qt::Key_Asterisk, "Num+*"},
    {69, keypad | Qt::Key_Plus, "Num++"},
};

const SpecialKey *specialKey(qint64 keyCode)
{
    for (const SpecialKey &key : specialKeys)
        if (key.keyCode == keyCode)
            return &key;
    return nullptr;
}

// The layout's character, upper-cased one code point at a time as Qt's key
// codes are ("ß" stays one character).
std::optional<char32_t> layoutCharacter(const Shortcut &shortcut, const KeyboardLayout *layout)
{
    const std::optional<int> xKey = xKeyCode(shortcut.carbonKeyCode);
    if (!layout || !xKey)
        return std::nullopt;
    const std::optional<QString> text = layout->character(*xKey);
    if (!text || text->isEmpty())
        return std::nullopt;
    return QChar::toUpper(text->toUcs4().first());
}

QHash<QString, QString> loadTexts()
{
    QHash<QString, QString> texts;
    QFile file(QStringLiteral(":/KeyboardShortcuts/recorder-texts.json"));
    if (!file.open(QIODevice::ReadOnly))
        return texts;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (it->isString())
            texts.insert(it.key(), it->toString());
    return texts;
}

} // namespace

QString modifierText(Qt::KeyboardModifiers modifiers)
{
    QStringList parts;
    if (modifiers & Qt::MetaModifier)
        parts << QStringLiteral("Meta");
    if (modifiers & Qt::ControlModifier)
        parts << QStringLiteral("Ctrl");
    if (modifiers & Qt::AltModifier)
        parts << QStringLiteral("Alt");
    if (modifiers & Qt::ShiftModifier)
        parts << QStringLiteral("Shift");
    return parts.join(QLatin1Char('+'));
}

std::optional<QString> keyText(const Shortcut &shortcut, const KeyboardLayout *layout)
{
    if (const SpecialKey *key = specialKey(shortcut.carbonKeyCode))
        return QString::fromLatin1(key->name);
    const std::optional<char32_t> c = layoutCharacter(shortcut, layout);
    if (!c)
        return std::nullopt;
    return QString::fromUcs4(&*c, 1);
}

QString description(const Shortcut &shortcut, const KeyboardLayout *layout)
{
    const QString modifiers = modifierText(shortcut.modifiers());
    QString key = keyText(shortcut, layout).value_or(QString());
    if (const std::optional<int> xKey = xKeyCode(shortcut.carbonKeyCode); key.isEmpty() && layout && xKey)
        key = layout->symbolName(*xKey);
    if (key.isEmpty())
        key = QChar(QChar::ReplacementCharacter);
    return modifiers.isEmpty() ? key : modifiers + QLatin1Char('+') + key;
}

int qtKey(const Shortcut &shortcut, const KeyboardLayout *layout)
{
    if (const SpecialKey *key = specialKey(shortcut.carbonKeyCode))
        return key->qtKey;
    // Qt's key code of a printable key is its upper-case code point.
    return static_cast<int>(layoutCharacter(shortcut, layout).value_or(0));
}

QString localizedText(const QString &key)
{
    static const QHash<QString, QString> texts = loadTexts();
    return texts.value(key, key);
}

} // namespace KeyboardShortcuts
