#pragma once

#include <QRandomGenerator>
#include <QString>
#include <QtGlobal>

// The seed of a test that does things at random moments: TESSIVO_TEST_SEED
// replays a run; the seed is printed either way.
inline quint32 testSeed()
{
    bool ok = false;
    quint32 value = qEnvironmentVariable("TESSIVO_TEST_SEED").toUInt(&ok);
    if (!ok)
        value = QRandomGenerator::global()->generate();
    qInfo("seed %u (replay with TESSIVO_TEST_SEED=%u)", value, value);
    return value;
}
