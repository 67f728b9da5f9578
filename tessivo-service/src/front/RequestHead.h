#pragma once

#include "ServiceTypes.h"

#include <QByteArray>
#include <QByteArrayView>

namespace tessivo::server {

// How a head is refused: the status, and the code and message of the error
// body. The connection closes after it: what follows can't be framed.
struct HeadRefusal
{
    int status = 0;
    QByteArray code;
    QByteArray message;

    bool operator==(const HeadRefusal &) const = default;
};

// One request head read from the start of a connection's input.
struct RequestHead
{
    enum class Outcome {
        Incomplete, // its end has yet to arrive
        Read,       // `request` and what goes with it
        Refused,    // `refusal`
    };

    Outcome outcome = Outcome::Incomplete;
    // Method, path, query and headers (values without the whitespace
    // around them; the Host of an absolute target in place of the one
    // sent). No body, and no peer: that depends on the socket.
    LoggedRequest request;
    bool http10 = false;
    // HTTP/1.0, or "connection: close".
    bool closeAfterReply = false;
    qint64 contentLength = 0;
    // Bytes of the input the head took, the empty line that ends it included.
    qsizetype consumed = 0;
    HeadRefusal refusal;
};

// Reads the head at the start of `in` as HTTP/1.1 has it, strictly where a
// lenient reading would let this service and a proxy in front of it frame
// the same bytes differently. A head longer than `maxHeadBytes` (with its
// empty line) is refused whether or not its end has arrived. Reads nothing
// but `in`.
RequestHead parseRequestHead(QByteArrayView in, qsizetype maxHeadBytes);

} // namespace tessivo::server
