#pragma once

#include "editor/core/MarkdownRenderer.h"

#include <QWidget>

class QLabel;

// The line of counts under the open document: words, characters, reading
// time, and "Published" when the document has a published link.
class StatusBar final : public QWidget
{
    Q_OBJECT

public:
    explicit StatusBar(QWidget *parent = nullptr);

    void setStats(const MarkdownRenderer::Stats &stats);
    void setPublished(bool published);
    MarkdownRenderer::Stats stats() const { return m_stats; }
    bool isPublished() const { return m_published; }

    // What the bar shows, left to right ("12 words", "80 characters",
    // "1 min read", and "Published" when shown).
    QStringList texts() const;

private:
    MarkdownRenderer::Stats m_stats;
    bool m_published = false;
    QLabel *m_words;
    QLabel *m_characters;
    QLabel *m_reading;
    QWidget *m_publishedBadge;
};
