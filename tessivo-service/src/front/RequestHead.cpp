#include "RequestHead.h"

#include <QList>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>

namespace tessivo::server {

namespace {

// Where the head ends: the index of the line end before the first empty
// line, and in `separator` the length of the two line ends. Lines may end
// in CRLF or a bare LF.
qsizetype headEnd(QByteArrayView in, qsizetype *separator)
{
    for (qsizetype lf = in.indexOf('\n'); lf >= 0; lf = in.indexOf('\n', lf + 1)) {
        if (lf + 1 < in.size() && in[lf + 1] == '\n') {
            *separator = 2;
            return lf;
        }
        if (lf + 2 < in.size() && in[lf + 1] == '\r' && in[lf + 2] == '\n') {
            *separator = 3;
            return lf;
        }
    }
    return -1;
}

// A field name is a token: no spaces, not even before the colon, where a
// server and the proxy in front of it could read different names. A line
// folded onto the one before starts with a space, so it is no field.
bool isFieldName(const QByteArray &name)
{
    static constexpr std::string_view punctuation = "!#$%&'*+-.^_`|~";
    return !name.isEmpty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               punctuation.find(c) != std::string_view::npos;
    });
}

// A field value holds no control characters but tabs: a NUL or a bare CR
// ends it early for some readers and not for others.
bool isFieldValue(const QByteArray &value)
{
    return std::none_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t') || byte == 0x7f;
    });
}

// "HTTP/1.0" gives 10 and any later 1.x 11, which it is answered as; a
// version of another major gives ten times that major; a malformed one, 0.
int httpVersion(const QByteArray &token)
{
    const auto digit = [&](int i) { return token[i] >= '0' && token[i] <= '9'; };
    if (token.size() != 8 || !token.startsWith("HTTP/") || token[6] != '.' || !digit(5) || !digit(7))
        return 0;
    const int major = token[5] - '0';
    if (major != 1)
        return std::max(1, major * 10);
    return token[7] == '0' ? 10 : 11;
}

// Digits alone: a sign, a list ("5, 5"), an empty value or one past the
// largest length would be read as another length, or none, by some
// reader on the way.
std::optional<qint64> decimalLength(const QByteArray &value)
{
    if (value.isEmpty())
        return std::nullopt;
    qint64 length = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (length > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        length = length * 10 + digit;
    }
    return length;
}

RequestHead refused(int status, const char *code, const char *message)
{
    RequestHead head;
    head.outcome = RequestHead::Outcome::Refused;
    head.refusal = {status, code, message};
    return head;
}

RequestHead malformedRequest()
{
    return refused(400, "bad_request", "Malformed request.");
}

RequestHead malformedHeader()
{
    return refused(400, "bad_request", "Malformed header.");
}

} // namespace

RequestHead parseRequestHead(QByteArrayView in, qsizetype maxHeadBytes)
{
    qsizetype separator = 0;
    const qsizetype end = headEnd(in, &separator);
    if ((end < 0 ? in.size() : end + separator) > maxHeadBytes)
        return refused(431, "too_large", "Request headers are too large.");
    if (end < 0)
        return {};
    const QList<QByteArray> lines = in.first(end).toByteArray().split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3)
        return malformedRequest();
    const int version = httpVersion(requestLine[2]);
    if (version == 0)
        return malformedRequest();
    if (version / 10 != 1)
        return refused(505, "version_not_supported", "Use HTTP/1.1.");

    RequestHead head;
    LoggedRequest &request = head.request;
    request.method = requestLine[0];
    QByteArray target = requestLine[1];
    // The absolute form a proxy may send names the host in the target,
    // which then stands for the Host header.
    QByteArray authority;
    const QByteArray scheme = target.left(8).toLower();
    if (scheme.startsWith("http://") || scheme.startsWith("https://")) {
        const qsizetype from = target.indexOf("://") + 3;
        qsizetype to = from;
        while (to < target.size() && target[to] != '/' && target[to] != '?')
            ++to;
        authority = target.mid(from, to - from);
        // It becomes the Host header: it holds what a field value may.
        if (authority.isEmpty() || authority.contains('@') || !isFieldValue(authority))
            return malformedRequest();
        target = (to < target.size() && target[to] == '/' ? QByteArray() : QByteArray("/")) + target.mid(to);
    }
    const qsizetype question = target.indexOf('?');
    request.hadQuery = question >= 0;
    request.rawQuery = request.hadQuery ? target.mid(question + 1) : QByteArray();
    request.path = QUrl::fromPercentEncoding(question >= 0 ? target.left(question) : target);

    int hosts = 0;
    int lengths = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        const QByteArray value = line.mid(colon + 1, line.endsWith('\r') ? line.size() - colon - 2 : -1);
        if (colon <= 0 || !isFieldName(name) || !isFieldValue(value))
            return malformedHeader();
        hosts += name.compare("host", Qt::CaseInsensitive) == 0;
        lengths += name.compare("content-length", Qt::CaseInsensitive) == 0;
        request.headers.append({name, value.trimmed()});
    }
    // Two of either, even alike, would let whoever reads the request next
    // take another from it than this service did.
    if (hosts > 1 || lengths > 1 || (hosts == 0 && version > 10))
        return malformedHeader();
    if (!authority.isEmpty()) {
        for (auto &[name, value] : request.headers) {
            if (name.compare("host", Qt::CaseInsensitive) == 0)
                value = authority;
        }
        if (hosts == 0)
            request.headers.append({QByteArray("host"), authority});
    }
    head.http10 = version == 10;
    head.closeAfterReply = head.http10 || request.header("connection").toLower() == "close";
    if (request.hasHeader("transfer-encoding")) {
        // With a Content-Length as well, the two would frame the body
        // differently for this service and for whatever stands before it.
        if (lengths > 0)
            return refused(400, "bad_request", "Send either Transfer-Encoding or Content-Length, not both.");
        return refused(411, "length_required", "Send the body with a Content-Length.");
    }
    if (lengths > 0) {
        const std::optional<qint64> length = decimalLength(request.header("content-length"));
        if (!length)
            return refused(400, "bad_request", "Malformed Content-Length.");
        head.contentLength = *length;
    }
    head.outcome = RequestHead::Outcome::Read;
    head.consumed = end + separator;
    return head;
}

} // namespace tessivo::server
