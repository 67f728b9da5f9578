#include "editor/core/EditorTextMirror.h"

#include <algorithm>

bool EditorTextMirror::isBlockBreak(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1;
}

QString EditorTextMirror::reset(const QString &body)
{
    m_body = body;
    m_breaks.clear();
    m_crlfCount = 0;
    m_newBreak = QStringLiteral("\n");
    bool hasLineFeed = false;
    qsizetype documentPosition = 0;
    for (qsizetype i = 0; i < body.size(); ++i, ++documentPosition) {
        const QChar c = body.at(i);
        if (c == u'\n') {
            hasLineFeed = true;
        }
        if (c == u'\n' || !isBlockBreak(c)) {
            continue;
        }
        if (c == u'\r' && i + 1 < body.size() && body.at(i + 1) == u'\n') {
            m_breaks.append({documentPosition, QStringLiteral("\r\n")});
            ++m_crlfCount;
            ++i;
        } else {
            m_breaks.append({documentPosition, QString(c)});
        }
    }
    if (!hasLineFeed && !m_breaks.isEmpty() &&
        std::all_of(m_breaks.cbegin(), m_breaks.cend(),
                    [&](const Break &b) { return b.text == m_breaks.constFirst().text; })) {
        m_newBreak = m_breaks.constFirst().text;
    }
    return m_breaks.isEmpty() ? body : this->documentText();
}

QString EditorTextMirror::documentText() const
{
    if (m_breaks.isEmpty()) {
        return m_body;
    }
    QString text;
    text.reserve(documentLength());
    qsizetype from = 0; // body position
    for (const Break &b : m_breaks) {
        const qsizetype at = toBody(b.position);
        text.append(QStringView(m_body).mid(from, at - from));
        text.append(u'\n');
        from = at + b.text.size();
    }
    text.append(QStringView(m_body).mid(from));
    return text;
}

qsizetype EditorTextMirror::toBody(qsizetype documentPosition) const
{
    qsizetype shift = 0;
    for (const Break &b : m_breaks) {
        if (b.position >= documentPosition) {
            break;
        }
        shift += b.text.size() - 1;
    }
    return documentPosition + shift;
}

qsizetype EditorTextMirror::toDocument(qsizetype bodyPosition) const
{
    qsizetype shift = 0;
    for (const Break &b : m_breaks) {
        const qsizetype at = b.position + shift; // body position of the break
        if (at >= bodyPosition) {
            break;
        }
        const qsizetype width = b.text.size() - 1;
        if (bodyPosition <= at + width) {
            // Inside a CR LF pair: the break itself.
            return b.position;
        }
        shift += width;
    }
    return bodyPosition - shift;
}

TextEdit EditorTextMirror::apply(qsizetype position, qsizetype removed, const QString &inserted)
{
    const qsizetype oldLength = documentLength();
    position = std::clamp<qsizetype>(position, 0, oldLength);
    removed = std::clamp<qsizetype>(removed, 0, oldLength - position);
    const qsizetype bodyStart = toBody(position);
    const qsizetype bodyEnd = toBody(position + removed);

    const qsizetype delta = inserted.size() - removed;
    QString replacement;
    QList<Break> added;
    if (m_newBreak == u"\n") {
        replacement = inserted;
        for (QChar &c : replacement) {
            if (c.unicode() == 0x2029) {
                c = u'\n';
            }
        }
    } else {
        replacement.reserve(inserted.size());
        for (qsizetype i = 0; i < inserted.size(); ++i) {
            const QChar c = inserted.at(i);
            if (c.unicode() == 0x2029 || c == u'\n') {
                added.append({position + i, m_newBreak});
                replacement += m_newBreak;
            } else {
                replacement += c;
            }
        }
    }
    QList<Break> kept;
    kept.reserve(m_breaks.size() + added.size());
    bool addedPlaced = false;
    for (const Break &b : std::as_const(m_breaks)) {
        if (b.position < position) {
            kept.append(b);
        } else if (b.position >= position + removed) {
            if (!addedPlaced) {
                kept.append(added);
                addedPlaced = true;
            }
            kept.append({b.position + delta, b.text});
        } else if (b.text.size() == 2) {
            --m_crlfCount;
        }
    }
    if (!addedPlaced) {
        kept.append(added);
    }
    if (m_newBreak.size() == 2) {
        m_crlfCount += added.size();
    }
    m_breaks = std::move(kept);
    TextEdit edit{{bodyStart, bodyEnd - bodyStart}, std::move(replacement)};
    if (m_body.isDetached()) {
        m_body.replace(edit.range.location, edit.range.length, edit.text);
        return edit;
    }
    // Someone holds the text as it was (right after loading), so this is a
    // copy either way; one pass writes each character once, where replace()
    // would copy the whole text and then move its tail over again.
    QString next;
    next.reserve(m_body.size() - edit.range.length + edit.text.size());
    next.append(QStringView(m_body).first(bodyStart));
    next.append(edit.text);
    next.append(QStringView(m_body).sliced(bodyEnd));
    m_body = std::move(next);
    return edit;
}
