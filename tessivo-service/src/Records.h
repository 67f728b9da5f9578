#pragma once

#include "Storage.h"

#include <QJsonObject>
#include <QString>

namespace tessivo::server {

// Why a pushed record can't be stored, or an empty string. A record needs a
// string "id" and integer "createdAt" and "updatedAt"; members the app reads
// with a type must have it (null counts as absent), so that one bad record
// can't make every later pull of its owner fail to decode.
QString recordProblem(RecordKind kind, const QJsonObject &record);

// The integer value of a JSON number without a fraction.
std::optional<qint64> jsonInteger(const QJsonValue &value);

} // namespace tessivo::server
