// Storage, change notice, system-wide claims and dispatch of named shortcuts,
// against a stand-in for the window system.
#include "KeyboardShortcuts/FakeHotKeyBackend.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

using namespace KeyboardShortcuts;

namespace {

using FakeBackend = FakeHotKeyBackend;

// The names a registry announces while it lives.
struct Notices
{
    QObject context;
    QStringList names;
    explicit Notices(Registry &registry)
    {
        QObject::connect(&registry, &Registry::shortcutByNameDidChange, &context,
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

    std::unique_ptr<QSettings> m_settings;
    FakeBackend m_backend;
    std::unique_ptr<Registry> m_registry;

    // A name storing `shortcut` whose releases count into `count`.
    Name counted(const char *raw, const Shortcut &shortcut, int *count)
    {
        const Name name{QLatin1String(raw)};
        m_registry->setShortcut(shortcut, name);
        m_registry->onKeyUp(name, [count] { ++*count; });
        return name;
    }

    void press(const Shortcut &s)
    {
        m_registry->handleHotKey(s, EventType::keyDown);
        m_registry->handleHotKey(s, EventType::keyUp);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The component keeps shortcuts in the application's settings.
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_shortcutstore"));
    }

    void init()
    {
        m_settings = std::make_unique<QSettings>();
        m_settings->clear();
        m_backend = FakeBackend();
        m_registry = std::make_unique<Registry>();
        m_registry->setBackend(&m_backend);
    }

    void cleanup() { m_registry.reset(); }

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
        Notices notices(*m_registry);
        m_registry->setShortcut(metaAltM, name);
        QCOMPARE(m_settings->value(QStringLiteral("KeyboardShortcuts_toggleWindow")).toString(),
                 QStringLiteral(R"({"carbonKeyCode":46,"carbonModifiers":6144})"));
        QCOMPARE(notices.names, QStringList({"toggleWindow"}));
        QVERIFY(m_backend.grabbed.contains(metaAltM));

        m_registry->setShortcut(ctrlShiftK, name); // the old combination is let go
        QCOMPARE(m_backend.grabbed, QSet<Shortcut>({ctrlShiftK}));
    }

    void theRegistryStoresADefaultOnlyOnAnEmptyKey_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<std::optional<Shortcut>>("expected");
        QTest::newRow("nothing stored") << QVariant() << std::optional(metaAltN);
        QTest::newRow("user's choice") << QVariant(ctrlShiftK.toJson()) << std::optional(ctrlShiftK);
        QTest::newRow("cleared by the user") << QVariant(false) << std::optional<Shortcut>();
        QTest::newRow("unreadable") << QVariant(QStringLiteral("{")) << std::optional<Shortcut>();
    }

    void theRegistryStoresADefaultOnlyOnAnEmptyKey()
    {
        QFETCH(QVariant, stored);
        QFETCH(std::optional<Shortcut>, expected);
        const QString key = QStringLiteral("KeyboardShortcuts_newDocumentAnywhere");
        if (stored.isValid())
            m_settings->setValue(key, stored);
        Notices notices(*m_registry);
        const Name name(QStringLiteral("newDocumentAnywhere"), metaAltN);
        // A name is a plain value: making one writes and claims nothing.
        QCOMPARE(m_settings->value(key), stored);
        QVERIFY(m_backend.grabbed.isEmpty());
        QCOMPARE(m_registry->shortcut(name), expected);
        QCOMPARE(notices.names.size(), stored.isValid() ? 0 : 1);
        QCOMPARE(m_backend.grabbed.contains(metaAltN), !stored.isValid());
    }

    void registriesShareNothingAndLetGoWhenTheyEnd()
    {
        const Name name(QStringLiteral("n"), metaAltM);
        FakeBackend otherBackend;
        {
            Registry other;
            other.setBackend(&otherBackend);
            other.onKeyUp(name, [] {});
            QVERIFY(other.isRegistered(metaAltM));
            QVERIFY(!m_registry->isRegistered(metaAltM));
            QVERIFY(otherBackend.grabbed.contains(metaAltM));
        }
        QVERIFY(otherBackend.grabbed.isEmpty());
    }

    void keysAreHashableByTheirCode()
    {
        const QSet<Key> keys{Key::a(), Key{0}, Key::b()};
        QCOMPARE(keys.size(), 2);
        QCOMPARE(qHash(Key::m(), 7), qHash(Key{46}, 7));
    }

    void clearing()
    {
        const Name withDefault(QStringLiteral("a"), metaAltN);
        const Name without(QStringLiteral("b"));
        m_registry->setShortcut(ctrlShiftK, without);
        m_registry->setShortcut(std::nullopt, withDefault);
        m_registry->setShortcut(std::nullopt, without);
        QCOMPARE(m_settings->value(withDefault.settingsKey()), QVariant(false));
        QVERIFY(m_registry->userDefaultsContains(withDefault));
        QVERIFY(!m_registry->userDefaultsContains(without));
        QVERIFY(m_backend.grabbed.isEmpty());

        Notices notices(*m_registry);
        m_registry->setShortcut(std::nullopt, without); // nothing stored: no notice
        QCOMPARE(notices.names.size(), 0);
        m_registry->reset({withDefault});
        QCOMPARE(m_registry->shortcut(withDefault), std::optional(metaAltN));
        QCOMPARE(notices.names.size(), 1);
    }

    void oneReleaseRunsEveryNameStoringTheShortcut()
    {
        const Name first(QStringLiteral("first")), second(QStringLiteral("second"));
        QStringList log;
        m_registry->onKeyUp(first, [&] { log << "first"; });
        m_registry->setShortcut(metaAltM, first); // stored after the handler: claimed then
        m_registry->setShortcut(metaAltM, second);
        m_registry->onKeyUp(second, [&] { log << "second"; });
        m_registry->onKeyUp(second, [&] { log << "second again"; });
        m_registry->onKeyDown(second, [&] { log << "down"; });
        press(metaAltM);
        QCOMPARE(log, QStringList({"down", "first", "second", "second again"}));

        m_registry->setPaused(true);
        press(metaAltM);
        m_registry->setPaused(false);
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
        m_registry->setShortcut(metaAltM, mover);
        int fired = 0;
        counted("stayer", metaAltM, &fired);
        m_registry->setShortcut(moveTo, mover);
        QVERIFY(m_backend.grabbed.contains(metaAltM));
        press(metaAltM);
        QCOMPARE(fired, 1);
    }

    void aRefusedClaimIsSilentAndStillStored()
    {
        m_backend.heldElsewhere.insert(metaAltM);
        const Name name(QStringLiteral("n"));
        m_registry->setShortcut(metaAltM, name);
        QCOMPARE(m_registry->shortcut(name), std::optional(metaAltM));
        QVERIFY(!m_registry->isRegistered(metaAltM));
        QVERIFY(m_registry->isTakenBySystem(metaAltM));
        QVERIFY(!m_registry->isTakenBySystem(ctrlShiftK));
    }

    void pausingLetsGoOfTheKeysAndClaimsThemAgain()
    {
        const Name a(QStringLiteral("a")), b(QStringLiteral("b"));
        m_registry->setShortcut(metaAltM, a);
        m_registry->setShortcut(metaAltN, b);
        m_registry->setPaused(true);
        QVERIFY(m_backend.grabbed.isEmpty());
        m_backend.heldElsewhere.insert(metaAltN); // taken meanwhile
        m_registry->setPaused(false);
        QCOMPARE(m_backend.grabbed, QSet<Shortcut>({metaAltM}));
        QVERIFY(!m_registry->isRegistered(metaAltN));
    }

    void streamsAndHandlerRemoval()
    {
        const Name name(QStringLiteral("s"));
        m_registry->setShortcut(metaAltM, name);
        m_registry->onKeyUp(name, [] {});
        auto all = m_registry->events(name);
        auto ups = m_registry->events(name, EventType::keyUp);
        QSignalSpy allSpy(all.get(), &EventStream::occurred), upSpy(ups.get(), &EventStream::occurred);
        m_registry->removeAllHandlers(); // the streams still use the shortcut
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
        m_registry->disable({name});
        press(metaAltM);
        m_registry->enable({name});
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
