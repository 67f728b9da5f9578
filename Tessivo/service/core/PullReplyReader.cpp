#include "service/core/PullReplyReader.h"

#include "service/core/APIClient.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <optional>

namespace {

// A forward scanner over JSON text that finds where values end without
// building them. It only has to be right for valid JSON: every piece it
// finds is parsed afterwards, and anything it cannot follow sends the
// reply down the plain path.
class Scanner
{
public:
    explicit Scanner(const QByteArray &text) : m_text(text) {}

    qsizetype pos() const { return m_pos; }
    bool atEnd()
    {
        skipSpace();
        return m_pos >= m_text.size();
    }
    bool take(char c)
    {
        skipSpace();
        if (m_pos < m_text.size() && m_text.at(m_pos) == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool peek(char c)
    {
        skipSpace();
        return m_pos < m_text.size() && m_text.at(m_pos) == c;
    }
    // Moves past one value; false when the text ends first.
    bool skipValue()
    {
        skipSpace();
        if (m_pos >= m_text.size()) {
            return false;
        }
        const char c = m_text.at(m_pos);
        if (c == '"') {
            return skipString();
        }
        if (c == '{' || c == '[') {
            int depth = 0;
            while (m_pos < m_text.size()) {
                const char d = m_text.at(m_pos);
                if (d == '"') {
                    if (!skipString()) {
                        return false;
                    }
                    continue;
                }
                ++m_pos;
                if (d == '{' || d == '[') {
                    ++depth;
                } else if (d == '}' || d == ']') {
                    if (--depth == 0) {
                        return true;
                    }
                }
            }
            return false;
        }
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && !QByteArrayView(",]} \t\r\n").contains(m_text.at(m_pos))) {
            ++m_pos;
        }
        return m_pos > start;
    }
    bool skipString()
    {
        skipSpace();
        if (m_pos >= m_text.size() || m_text.at(m_pos) != '"') {
            return false;
        }
        for (++m_pos; m_pos < m_text.size(); ++m_pos) {
            const char c = m_text.at(m_pos);
            if (c == '\\') {
                ++m_pos;
            } else if (c == '"') {
                ++m_pos;
                return true;
            }
        }
        return false;
    }

private:
    void skipSpace()
    {
        while (m_pos < m_text.size() && QByteArrayView(" \t\r\n").contains(m_text.at(m_pos))) {
            ++m_pos;
        }
    }

    const QByteArray &m_text;
    qsizetype m_pos = 0;
};

std::optional<QString> keyOf(const QByteArray &body, qsizetype from, qsizetype to)
{
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + body.mid(from, to - from) + ']');
    const QJsonValue key = wrapped.array().at(0);
    return key.isString() ? std::optional(key.toString()) : std::nullopt;
}

template <typename Record>
bool readRecords(const QByteArray &body, Scanner &scan, QList<Record> *out)
{
    if (!scan.take('[')) {
        return false;
    }
    if (scan.take(']')) {
        return true;
    }
    do {
        scan.atEnd();
        const qsizetype start = scan.pos();
        if (!scan.skipValue()) {
            return false;
        }
        const QJsonDocument item =
            QJsonDocument::fromJson(QByteArray::fromRawData(body.constData() + start, scan.pos() - start));
        if (!item.isObject()) {
            return false;
        }
        std::optional<Record> record = Record::fromJson(item.object());
        if (!record) {
            return false;
        }
        out->append(std::move(*record));
    } while (scan.take(','));
    return scan.take(']');
}

// The records of both lists, and the reply with both lists emptied.
bool split(const QByteArray &body, QList<Document> *documents, std::optional<QList<Collection>> *collections,
           QByteArray *rest)
{
    Scanner scan(body);
    if (!scan.take('{')) {
        return false;
    }
    *rest = "{";
    bool first = true;
    if (scan.take('}')) {
        return scan.atEnd() && (rest->append('}'), true);
    }
    do {
        scan.atEnd();
        const qsizetype keyStart = scan.pos();
        if (!scan.skipString()) {
            return false;
        }
        const std::optional<QString> key = keyOf(body, keyStart, scan.pos());
        if (!key || !scan.take(':')) {
            return false;
        }
        if (!first) {
            rest->append(',');
        }
        first = false;
        rest->append(body.mid(keyStart, scan.pos() - keyStart));
        const bool isDocuments = *key == QLatin1String("documents");
        const bool isCollections = *key == QLatin1String("collections");
        if ((isDocuments || isCollections) && scan.peek('[')) {
            if (isDocuments) {
                documents->clear();
                if (!readRecords(body, scan, documents)) {
                    return false;
                }
            } else {
                collections->emplace();
                if (!readRecords(body, scan, &**collections)) {
                    return false;
                }
            }
            rest->append("[]");
        } else {
            scan.atEnd();
            const qsizetype valueStart = scan.pos();
            if (!scan.skipValue()) {
                return false;
            }
            rest->append(body.mid(valueStart, scan.pos() - valueStart));
        }
    } while (scan.take(','));
    if (!scan.take('}') || !scan.atEnd()) {
        return false;
    }
    rest->append('}');
    return true;
}

} // namespace

namespace PullReplyReader {

APIResult<SyncPullResponse> decode(const QByteArray &body)
{
    QList<Document> documents;
    std::optional<QList<Collection>> collections;
    QByteArray rest;
    if (split(body, &documents, &collections, &rest)) {
        const QJsonDocument skeleton = QJsonDocument::fromJson(rest);
        if (skeleton.isObject()) {
            if (std::optional<SyncPullResponse> pull = SyncPullResponse::fromJson(skeleton.object())) {
                pull->documents = std::move(documents);
                if (pull->collections) {
                    pull->collections = std::move(collections);
                }
                return std::move(*pull);
            }
        }
    }
    documents.clear();
    collections.reset();
    return APIClient::decodeBody<SyncPullResponse>(body);
}

} // namespace PullReplyReader
