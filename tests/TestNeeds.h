#pragma once

// What a test needs of the build or the machine: the app's binary, a tool,
// a build that honours the test-only overrides, an unlocked keyring. Where
// one is missing the test skips and says why. scripts/test.sh provides all
// of them and sets TESSIVO_TEST_REQUIRE_NEEDS=1, which turns such a skip
// into a failure: that run never passes by leaving a test out.

#include "TestWaits.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTest>

#include <unistd.h>

// Skips the test (fails it under TESSIVO_TEST_REQUIRE_NEEDS=1) when
// `missing`, a TestNeeds answer, names a need.
#define TESSIVO_NEED(missing)                                                                                \
    do {                                                                                                     \
        const QString tessivoMissing_ = (missing);                                                           \
        if (!tessivoMissing_.isEmpty()) {                                                                    \
            if (TestNeeds::required())                                                                       \
                QFAIL(qPrintable(QStringLiteral("required here, but ") + tessivoMissing_));                  \
            QSKIP(qPrintable(tessivoMissing_));                                                              \
        }                                                                                                    \
    } while (false)

namespace TestNeeds {

inline bool required()
{
    return qEnvironmentVariableIntValue("TESSIVO_TEST_REQUIRE_NEEDS") == 1;
}

// Each answers what is missing, or nothing.

inline QString file(const QString &path, const QString &what)
{
    return QFile::exists(path) ? QString() : what + QStringLiteral(" is not built");
}

inline QString program(const QString &name)
{
    return QStandardPaths::findExecutable(name).isEmpty() ? name + QStringLiteral(" is not installed")
                                                          : QString();
}

// The superuser's rights, for `what` (playing another user, mounting).
inline QString superuser(const QString &what)
{
    return geteuid() == 0 ? QString() : what + QStringLiteral(" needs root");
}

// The app reads TESSIVO_TEST_SERVICE_URL and its siblings only when built so.
inline QString testingBuild()
{
#ifdef TESSIVO_TESTING
    return {};
#else
    return QStringLiteral("the build is not configured with TESSIVO_TESTING=ON");
#endif
}

// A Secret Service on the session bus whose default collection is unlocked,
// so that items are stored and read without a prompt. Asked over D-Bus
// properties, which never prompt.
inline QString unlockedKeyring()
{
    QProcess gdbus;
    gdbus.start(QStringLiteral("gdbus"),
                {"call", "--session", "--dest", "org.freedesktop.secrets", "--object-path",
                 "/org/freedesktop/secrets/aliases/default", "--method",
                 "org.freedesktop.DBus.Properties.Get", "org.freedesktop.Secret.Collection", "Locked"});
    if (!gdbus.waitForStarted(TestWaits::limitMs))
        return QStringLiteral("gdbus is not installed");
    if (!gdbus.waitForFinished(TestWaits::limitMs) || gdbus.exitCode() != 0)
        return QStringLiteral("no Secret Service with a default keyring on this session bus");
    if (!gdbus.readAllStandardOutput().contains("false"))
        return QStringLiteral("the keyring is locked");
    return {};
}

} // namespace TestNeeds
