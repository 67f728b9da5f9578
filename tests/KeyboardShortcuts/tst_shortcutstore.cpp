// Storage, change notice, system-wide claims and dispatch of named shortcuts,
// against a stand-in for the window system.
#include "KeyboardShortcuts/core/HotKeys.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace KeyboardShortcuts;

namespace {

class FakeBackend final : public HotKeyBackend
{
public:
    QSet<Shortcut> grabbed;
    QSet<Shortcut> heldElsewhere;

    bool grab(const Shortcut &s) override
    {
        if (heldElsewhere.contains(s))
            return false;
        grabbed.insert(s);
        return true;
    }
    void ungrab(const Shortcut &s) override { grabbed.remove(s); }
    bool isHeldElsewhere(const Shortcut &s) override { return heldElsewhere.contains(s); }
};

// The names announced while it lives.
struct Notices
{
    QObject context;
    QStringList names;
    Notices()
    {
        QObject::connect(notifier(), &Notifier::shortcutByNameDidChange, &context,
                         [this](const Name &name) { names << name.rawValue(); });
    }
};

const Shortcut metaAltM(Key::m(), control | option);
const Shortcut metaAltN(Key::n(), control | option);
const Shortcut ctrlShiftK(Key::k(), command | shift);

} // namespace

class TestShortcutStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    FakeBackend m_backend;

    // A name storing `shortcut` whose releases count into `count`.
    static Name counted(const char *raw, const Shortcut &shortcut, int *count)
    {
        const Name name{QLatin1String(raw)};
        setShortcut(shortcut, name);
        onKeyUp(name, [count] { ++*count; });
        return name;
    }

    void press(const Shortcut &s)
    {
        HotKeys::handleHotKey(s, EventType::keyDown);
        HotKeys::handleHotKey(s, EventType::keyUp);
    }

private Q_SLOTS:
    void init()
    {
        m_settings =
            std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        m_settings->clear();
        setSettings(m_settings.get());
        resetForTesting();
        m_backend = FakeBackend();
        HotKeys::setBackend(&m_backend);
    }

    void cleanup()
    {
        HotKeys::setBackend(nullptr);
        setSettings(nullptr);
    }

    void decoding_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<bool>("readable");
        QTest::newRow("both members") << R"({"carbonKeyCode":46,"carbonModifiers":6144})" << true;
        QTest::newRow("other order, extra member")
            << R"({"x":1,"carbonModifiers":0,"carbonKeyCode":3})" << true;
        QTest::newRow("modifiers missing") << R"({"carbonKeyCode":46})" << false;
        QTest::newRow("fraction") << R"({"carbonKeyCode":4.5,"carbonModifiers":0})" << false;
    }

    void decoding()
    {
        QFETCH(QString, json);
        QFETCH(bool, readable);
        QCOMPARE(Shortcut::fromJson(json).has_value(), readable);
    }

    void modifiersKeepOnlyTheFourKeys()
    {
        const Shortcut s(Key::a(), command | shift | Qt::KeypadModifier | Qt::GroupSwitchModifier);
        QCOMPARE(s.carbonModifiers, cmdKey | shiftKey);
        QCOMPARE(Shortcut::fromCarbon(0, 0xFFFF).carbonModifiers, cmdKey | shiftKey | optionKey | controlKey);
        QCOMPARE(Shortcut::fromJson(metaAltM.toJson()), std::optional(metaAltM));
    }

    void storingClaimsAndAnnounces()
    {
        const Name name(QStringLiteral("toggleWindow"));
        Notices notices;
        setShortcut(metaAltM, name);
        QCOMPARE(m_settings->value(QStringLiteral("KeyboardShortcuts_toggleWindow")).toString(),
                 QStringLiteral(R"({"carbonKeyCode":46,"carbonModifiers":6144})"));
        QCOMPARE(notices.names, QStringList({"toggleWindow"}));
        QVERIFY(m_backend.grabbed.contains(metaAltM));

        setShortcut(ctrlShiftK, name); // the old combination is let go
        QCOMPARE(m_backend.grabbed, QSet<Shortcut>({ctrlShiftK}));
    }

    void makingANameStoresItsDefaultOnlyOnAnEmptyKey_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<std::optional<Shortcut>>("expected");
        QTest::newRow("nothing stored") << QVariant() << std::optional(metaAltN);
        QTest::newRow("user's choice") << QVariant(ctrlShiftK.toJson()) << std::optional(ctrlShiftK);
        QTest::newRow("cleared by the user") << QVariant(false) << std::optional<Shortcut>();
        QTest::newRow("unreadable") << QVariant(QStringLiteral("{")) << std::optional<Shortcut>();
    }

    void makingANameStoresItsDefaultOnlyOnAnEmptyKey()
    {
        QFETCH(QVariant, stored);
        QFETCH(std::optional<Shortcut>, expected);
        if (stored.isValid())
            m_settings->setValue(QStringLiteral("KeyboardShortcuts_newDocumentAnywhere"), stored);
        Notices notices;
        const Name name(QStringLiteral("newDocumentAnywhere"), metaAltN);
        QCOMPARE(getShortcut(name), expected);
        QCOMPARE(notices.names.size(), stored.isValid() ? 0 : 1);
    }

    void clearing()
    {
        const Name withDefault(QStringLiteral("a"), metaAltN);
        const Name without(QStringLiteral("b"));
        setShortcut(ctrlShiftK, without);
        setShortcut(std::nullopt, withDefault);
        setShortcut(std::nullopt, without);
        QCOMPARE(m_settings->value(withDefault.settingsKey()), QVariant(false));
        QVERIFY(userDefaultsContains(withDefault));
        QVERIFY(!userDefaultsContains(without));
        QVERIFY(m_backend.grabbed.isEmpty());

        Notices notices;
        setShortcut(std::nullopt, without); // nothing stored: no notice
        QCOMPARE(notices.names.size(), 0);
        reset({withDefault});
        QCOMPARE(getShortcut(withDefault), std::optional(metaAltN));
        QCOMPARE(notices.names.size(), 1);
    }

    void oneReleaseRunsEveryNameStoringTheShortcut()
    {
        const Name first(QStringLiteral("first")), second(QStringLiteral("second"));
        QStringList log;
        onKeyUp(first, [&] { log << "first"; });
        setShortcut(metaAltM, first); // stored after the handler: claimed then
        setShortcut(metaAltM, second);
        onKeyUp(second, [&] { log << "second"; });
        onKeyUp(second, [&] { log << "second again"; });
        onKeyDown(second, [&] { log << "down"; });
        press(metaAltM);
        QCOMPARE(log, QStringList({"down", "first", "second", "second again"}));

        setPaused(true);
        press(metaAltM);
        setPaused(false);
        QCOMPARE(log.size(), 4);
    }

    void aSharedShortcutKeepsWorkingWhenOneNameMovesAway_data()
    {
        QTest::addColumn<std::optional<Shortcut>>("moveTo");
        QTest::newRow("moved") << std::optional(ctrlShiftK);
        QTest::newRow("cleared") << std::optional<Shortcut>();
    }

    void aSharedShortcutKeepsWorkingWhenOneNameMovesAway()
    {
        QFETCH(std::optional<Shortcut>, moveTo);
        const Name mover(QStringLiteral("mover"));
        setShortcut(metaAltM, mover);
        int fired = 0;
        counted("stayer", metaAltM, &fired);
        setShortcut(moveTo, mover);
        QVERIFY(m_backend.grabbed.contains(metaAltM));
        press(metaAltM);
        QCOMPARE(fired, 1);
    }

    void aRefusedClaimIsSilentAndStillStored()
    {
        m_backend.heldElsewhere.insert(metaAltM);
        const Name name(QStringLiteral("n"));
        setShortcut(metaAltM, name);
        QCOMPARE(getShortcut(name), std::optional(metaAltM));
        QVERIFY(!HotKeys::isRegistered(metaAltM));
        QVERIFY(HotKeys::isTakenBySystem(metaAltM));
        QVERIFY(!HotKeys::isTakenBySystem(ctrlShiftK));
    }

    void pausingLetsGoOfTheKeysAndClaimsThemAgain()
    {
        const Name a(QStringLiteral("a")), b(QStringLiteral("b"));
        setShortcut(metaAltM, a);
        setShortcut(metaAltN, b);
        setPaused(true);
        QVERIFY(m_backend.grabbed.isEmpty());
        m_backend.heldElsewhere.insert(metaAltN); // taken meanwhile
        setPaused(false);
        QCOMPARE(m_backend.grabbed, QSet<Shortcut>({metaAltM}));
        QVERIFY(!HotKeys::isRegistered(metaAltN));
    }

    void streamsAndHandlerRemoval()
    {
        const Name name(QStringLiteral("s"));
        setShortcut(metaAltM, name);
        onKeyUp(name, [] {});
        auto all = events(name);
        auto ups = events(EventType::keyUp, name);
        QSignalSpy allSpy(all.get(), &EventStream::occurred), upSpy(ups.get(), &EventStream::occurred);
        removeAllHandlers(); // the streams still use the shortcut
        press(metaAltM);
        QCOMPARE(allSpy.size(), 2);
        QCOMPARE(allSpy[0][0].value<EventType>(), EventType::keyDown);
        QCOMPARE(upSpy.size(), 1);
        all.reset();
        ups.reset();
        QVERIFY(!m_backend.grabbed.contains(metaAltM));
    }

    void disableAndEnable()
    {
        int fired = 0;
        const Name name = counted("d", metaAltM, &fired);
        disable({name});
        press(metaAltM);
        enable({name});
        press(metaAltM);
        QCOMPARE(fired, 1);
    }

    void waylandSessionsRegisterNothing()
    {
        qputenv("XDG_SESSION_TYPE", "x11");
        qunsetenv("WAYLAND_DISPLAY");
        QVERIFY(!isWaylandSession());
        qputenv("WAYLAND_DISPLAY", "wayland-0"); // an XWayland client
        QVERIFY(isWaylandSession());
    }
};

QTEST_GUILESS_MAIN(TestShortcutStore)
#include "tst_shortcutstore.moc"
