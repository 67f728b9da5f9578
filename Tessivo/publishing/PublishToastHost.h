#pragma once

#include <QUrl>
#include <QWidget>

class AppNotifications;
class QLabel;
class QPushButton;
class SaveClock;

// The overlay that the detail pane lays over its content: on every
// "zv.publishToast" it shows a card in its bottom-right corner with the
// message and a "View post" link for five seconds after the last one. It
// takes clicks on the card only; elsewhere they reach the content beneath.
// The card is a sibling of the host in its parent (the host itself lets
// every click through), so it is a child of the host only without a parent.
class PublishToastHost final : public QWidget
{
    Q_OBJECT

public:
    // Shows the toasts posted on `notifications`; `clock` times the hide
    // (null: real time). Neither is owned.
    explicit PublishToastHost(AppNotifications *notifications, QWidget *parent = nullptr,
                              SaveClock *clock = nullptr);

    static constexpr qint64 shownMs = 5000;

    bool isShowing() const { return m_visible; }
    QString message() const { return m_message; }
    QUrl url() const { return m_url; }
    QPushButton *viewButton() const { return m_view; }
    QWidget *card() const { return m_card; }

    // Hides the card; the message and link stay.
    void dismiss();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void restyle();
    void receive(const QString &name, const QVariantMap &userInfo);
    void place();
    // Where the card goes, in the host's coordinates.
    QRect cardRect() const;
    // From the card's place to just below the pane's bottom edge; none when
    // the desktop asks for less motion.
    QPoint slide() const;

    SaveClock *m_clock;
    QWidget *m_card = nullptr;
    QLabel *m_text;
    QPushButton *m_view;
    QString m_message;
    QUrl m_url;
    bool m_visible = false;
};
