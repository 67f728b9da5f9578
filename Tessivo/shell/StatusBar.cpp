#include "shell/StatusBar.h"

#include "shell/core/DetailStatus.h"
#include "widgets/Icon.h"

#include <QHBoxLayout>
#include <QLabel>

using namespace Qt::StringLiterals;

StatusBar::StatusBar(QWidget *parent) : QWidget(parent)
{
    QFont caption = font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    setFont(caption);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Icon::secondaryColor(palette()));
    setPalette(p);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 6, 16, 6);
    layout->setSpacing(14);
    m_words = new QLabel(this);
    m_characters = new QLabel(this);
    m_reading = new QLabel(this);
    layout->addWidget(m_words);
    layout->addWidget(m_characters);
    layout->addWidget(m_reading);
    layout->addStretch(1);

    m_publishedBadge = new QWidget(this);
    auto *badge = new QHBoxLayout(m_publishedBadge);
    badge->setContentsMargins(0, 0, 0, 0);
    badge->setSpacing(4);
    auto *icon = new Icon(IconName::link, 12, m_publishedBadge);
    icon->setColor(Icon::secondaryColor(palette()));
    badge->addWidget(icon);
    badge->addWidget(new QLabel(u"Published"_s, m_publishedBadge));
    layout->addWidget(m_publishedBadge);
    m_publishedBadge->setVisible(false);
    setStats({});
}

void StatusBar::setStats(const MarkdownRenderer::Stats &stats)
{
    m_stats = stats;
    m_words->setText(DetailStatus::wordsText(stats.words));
    m_characters->setText(DetailStatus::charactersText(stats.characters));
    m_reading->setText(DetailStatus::readingTimeText(stats.words));
}

void StatusBar::setPublished(bool published)
{
    m_published = published;
    m_publishedBadge->setVisible(published);
}

QStringList StatusBar::texts() const
{
    QStringList list{m_words->text(), m_characters->text(), m_reading->text()};
    if (m_published)
        list << u"Published"_s;
    return list;
}
