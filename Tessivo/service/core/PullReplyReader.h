#pragma once

#include "protocol/WireRecords.h"
#include "service/core/APIResult.h"

#include <QByteArray>

// Decodes a pull reply as APIClient::decodeBody<SyncPullResponse> does, but
// one record at a time: besides the reply's bytes it holds only the
// decoded records and the JSON of one record, where a whole-document parse
// would hold the reply two or three times over. A reply it cannot split
// cleanly is decoded the plain way, for the same fault message.
namespace PullReplyReader {

APIResult<SyncPullResponse> decode(const QByteArray &body);

} // namespace PullReplyReader
