#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class AppNotifications;
class AuthManager;
class DocumentStore;
class PublishService;
class PublishSheetModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class SaveClock;

// The window-modal sheet that publishes the document as a read-only link,
// shows and copies the link of a published one, pushes its current text to
// that link or takes the page down. A thin view over PublishSheetModel; the
// face follows the store and the sign-in state while it is open.
class PublishSheet final : public QDialog
{
    Q_OBJECT
    // The height the sheet's content springs to when the document gains or
    // loses its link.
    Q_PROPERTY(int sheetHeight READ height WRITE setSheetHeight)
    // How far the Copy button's new title has faded in.
    Q_PROPERTY(qreal copyTitleOpacity READ copyTitleOpacity WRITE setCopyTitleOpacity)

public:
    // `store`, `notifications` and `auth` are not owned and must outlive
    // the sheet. `clock` times the "Copied" label (null: real time).
    PublishSheet(const QString &documentID, DocumentStore *store, AppNotifications *notifications,
                 const PublishService &service, AuthManager *auth, QWidget *parent = nullptr,
                 SaveClock *clock = nullptr);

    QString documentID() const;
    PublishSheetModel *model() const { return m_model; }
    // The link row's content, which slides and fades as the row comes and goes.
    QWidget *linkContent() const { return m_linkContent; }
    QPushButton *copyButton() const { return m_copy; }

    void setSheetHeight(int height) { setFixedHeight(height); }
    qreal copyTitleOpacity() const { return m_copyTitleOpacity; }
    void setCopyTitleOpacity(qreal opacity);

Q_SIGNALS:
    // "Sign In…" was pressed; the sheet has closed. Whoever presents the
    // sheet shows the account settings.
    void signInRequested();

protected:
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    void restyle();
    void showLinkRow(bool shown, bool animated);
    // Takes the size the content asks for: on the spring with `animated`.
    void fit(bool animated);

    PublishSheetModel *m_model;
    QLabel *m_title;
    QLabel *m_description;
    QWidget *m_slugSection;
    QWidget *m_slugBox = nullptr;
    QLabel *m_prefix;
    QLineEdit *m_slugField;
    QLabel *m_caption;
    QWidget *m_linkRow;
    QWidget *m_linkContent;
    QLineEdit *m_linkField;
    QPushButton *m_copy;
    QPushButton *m_open;
    QLabel *m_error;
    QPushButton *m_unpublish;
    QPushButton *m_dismiss;
    QPushButton *m_primary;
    std::optional<QString> m_shownSlug;
    bool m_shownCopied = false;
    bool m_linkShown = false;
    qreal m_copyTitleOpacity = 1.0;
    bool m_refreshed = false;
};
