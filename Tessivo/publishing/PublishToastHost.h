#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class QPushButton;
class SaveClock;

// The overlay that the detail pane lays over its content: on every
// "zv.publishToast" it shows a card in its bottom-right corner with the
// message and a "View post" link for five seconds after the last one. It
// takes clicks on the card only; elsewhere they reach the content beneath.
class PublishToastHost final : public QWidget
{
    Q_OBJECT

public:
    // `clock` times the hide (null: real time); not owned.
    explicit PublishToastHost(QWidget *parent = nullptr, SaveClock *clock = nullptr);

    static constexpr qint64 shownMs = 5000;

    bool isShowing() const { return m_visible; }
    QString message() const { return m_message; }
    QUrl url() const { return m_url; }
    QPushButton *viewButton() const { return m_view; }
    QWidget *card() const { return m_card; }

    // Hides the card; the message and link stay.
    void dismiss();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void restyle();
    void receive(const QString &name, const QVariantMap &userInfo);
    void place();

    SaveClock *m_clock;
    QWidget *m_card = nullptr;
    QLabel *m_text;
    QPushButton *m_view;
    QString m_message;
    QUrl m_url;
    bool m_visible = false;
};
