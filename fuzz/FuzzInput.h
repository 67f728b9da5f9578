#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

// Shared helpers for the fuzz targets: turning the fuzzer's bytes into the
// texts the app meets, and failing loudly when an invariant breaks.
namespace FuzzInput {

// Qt's log lines (a skipped record, a refused save) would flood the run and
// slow it down; the targets check results, not logs.
void silenceQtMessages();

// The bytes as text. A first byte with the low bit set reads the rest as raw
// UTF-16, so lone surrogates and odd code units reach the code as well as
// what UTF-8 decoding yields.
QString text(const uint8_t *data, size_t size);

// The bytes split at every 0xFF byte (which UTF-8 never holds), each part as
// text(); always `count` parts, missing ones empty.
QList<QString> parts(const uint8_t *data, size_t size, int count);

// Aborts with `what` when `condition` is false; libFuzzer keeps the input.
void require(bool condition, const char *what);

} // namespace FuzzInput
