#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

// One section of a settings page, laid out the way desktop preference
// dialogs group their rows: an optional header, a rounded box of rows
// separated by hairlines, and an optional footer in secondary text.
class SettingsSection final : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsSection(const QString &header = {}, QWidget *parent = nullptr);

    // A row with `title` at the leading edge and `control` at the trailing
    // edge; the title is the control's buddy.
    QWidget *addRow(const QString &title, QWidget *control);
    // A row that is `content` alone, as wide as the box.
    QWidget *addRow(QWidget *content);
    // A row of a read-only value: `title` leading, the plain text trailing.
    QLabel *addValueRow(const QString &title, const QString &value = {});

    void setFooter(const QString &text);
    QLabel *footer() const { return m_footer; }
    QLabel *header() const { return m_header; }

private:
    class Box;

    QLabel *m_header;
    Box *m_box;
    QLabel *m_footer;
};
