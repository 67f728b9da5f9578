// The service's request head reader: whatever the bytes, a head is read,
// refused or awaited; bytes after a head's end never change what it was
// read as; and a head that is read frames its body one way only (one
// Content-Length at most, no Transfer-Encoding, one Host for HTTP/1.1) and
// holds nothing another reader could split differently.
#include "FuzzInput.h"
#include "RequestHead.h"

#include <algorithm>

using namespace tessivo::server;

namespace {

constexpr qsizetype maxHeadBytes = 8 * 1024;

bool sameVerdict(const RequestHead &a, const RequestHead &b)
{
    return a.outcome == b.outcome && a.refusal == b.refusal && a.consumed == b.consumed &&
           a.contentLength == b.contentLength && a.closeAfterReply == b.closeAfterReply &&
           a.request.method == b.request.method && a.request.path == b.request.path &&
           a.request.rawQuery == b.request.rawQuery && a.request.headers == b.request.headers;
}

void checkRead(QByteArrayView in, const RequestHead &head)
{
    FuzzInput::require(head.consumed > 0 && head.consumed <= std::min(in.size(), maxHeadBytes),
                       "a head takes bytes it was given, within the limit");
    FuzzInput::require(head.contentLength >= 0, "a body length is never negative");
    FuzzInput::require(!head.request.hasHeader("transfer-encoding"), "no body is framed by chunks");
    int hosts = 0, lengths = 0;
    for (const auto &[name, value] : head.request.headers) {
        hosts += name.compare("host", Qt::CaseInsensitive) == 0;
        lengths += name.compare("content-length", Qt::CaseInsensitive) == 0;
        FuzzInput::require(!name.isEmpty() && std::none_of(name.begin(), name.end(),
                                                           [](char c) { return c <= ' ' || c == ':'; }),
                           "a field name is a token");
        FuzzInput::require(std::none_of(value.begin(), value.end(),
                                        [](char c) { return c == '\r' || c == '\n' || c == '\0'; }),
                           "a field value holds no line end or NUL");
    }
    FuzzInput::require(lengths <= 1, "one Content-Length at most");
    FuzzInput::require(hosts == 1 || (hosts == 0 && head.http10), "one Host, unless HTTP/1.0");
    if (lengths == 0)
        FuzzInput::require(head.contentLength == 0, "no Content-Length, no body");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzInput::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray in = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const RequestHead head = parseRequestHead(in, maxHeadBytes);
    if (head.outcome == RequestHead::Outcome::Incomplete) {
        FuzzInput::require(in.size() <= maxHeadBytes, "a head past the limit is refused, not awaited");
        return 0;
    }
    // However the bytes arrive: what follows a head, or more of a head past
    // the limit, leaves its verdict as it was.
    const RequestHead later = parseRequestHead(in + "GET / HTTP/1.1\r\nhost: x\r\n\r\n", maxHeadBytes);
    FuzzInput::require(sameVerdict(head, later), "bytes after a head leave it as it was read");
    if (head.outcome == RequestHead::Outcome::Read) {
        checkRead(in, head);
        FuzzInput::require(sameVerdict(head, parseRequestHead(in.first(head.consumed), maxHeadBytes)),
                           "a head reads alike without what follows it");
    } else {
        FuzzInput::require(head.refusal.status >= 400 && !head.refusal.message.isEmpty(),
                           "a refusal says what was wrong");
    }
    return 0;
}
