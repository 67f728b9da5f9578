#pragma once

#include <QWidget>

class AIMenuModel;
class AIActionList;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QScrollArea;
class QSpacerItem;
class QToolButton;
class Icon;

// The content of the AI menu: a 352-point card with a prompt field over the
// preset list (refine) or a hint (generate), an error row when a request
// failed, and a status row with a Stop button while a reply is written.
// Everything it shows comes from the model; everything the user does goes
// back into it.
class AIMenuView final : public QWidget
{
    Q_OBJECT

public:
    explicit AIMenuView(AIMenuModel *model, QWidget *parent = nullptr);

    // The field that takes the typing of the current mode.
    QWidget *promptField() const;
    QScrollArea *listScrollArea() const { return m_scroll; }
    AIActionList *list() const { return m_list; }
    // The height the generate hint needs at the card's width.
    int hintHeight() const;
    // The height of the error row for the message shown: room for one or
    // two lines of it.
    int errorHeight() const;
    // The row rectangle of `row` in list coordinates.
    QRect rowRect(int row) const;

    // Texts naming the menu's shortcut, as the keyboard binds it.
    static QString shortcutText();

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void render();
    void applyColours();
    void refreshHeader();
    void measureHeader();
    void focusField();
    int errorLines() const;

    AIMenuModel *m_model;
    QWidget *m_statusFace;
    QWidget *m_statusBody;
    Icon *m_statusIcon;
    QLabel *m_statusText;
    QWidget *m_menuFace;
    QWidget *m_header;
    Icon *m_headerIcon;
    QLineEdit *m_lineField;
    QPlainTextEdit *m_textField;
    QLabel *m_chip;
    QToolButton *m_send;
    QSpacerItem *m_trailingGap;
    QLabel *m_error;
    QWidget *m_errorBox;
    QLabel *m_hint;
    QLabel *m_noMatch;
    QScrollArea *m_scroll;
    AIActionList *m_list;
    bool m_syncingQuery = false;
};
