#pragma once

#include "publishing/core/PublishService.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class AppNotifications;
class DocumentStore;
class SaveClock;

// What the publish sheet shows and does for one document, for one
// presentation. The face follows the store (published or not) and the
// sign-in state at once; requests run one at a time and outlive the model:
// when it is gone before a reply, the store is still updated and the toast
// still posted.
class PublishSheetModel final : public QObject
{
    Q_OBJECT

public:
    // `store`, `notifications` (where the toast of a publish goes) and
    // `clock` are not owned and must outlive the model; `clock` times the
    // "Copied" label.
    PublishSheetModel(const QString &documentID, DocumentStore *store, AppNotifications *notifications,
                      const PublishService &service, SaveClock *clock, QObject *parent = nullptr);

    static constexpr qint64 copiedMs = 1600;

    QString documentID() const { return m_documentID; }
    std::optional<QString> slug() const;
    bool isPublished() const { return slug().has_value(); }
    bool isSignedIn() const { return m_signedIn; }
    void setSignedIn(bool signedIn);
    bool isBusy() const { return m_busy; }
    std::optional<QString> error() const { return m_error; }
    bool isCopied() const { return m_copied; }

    QString customSlug() const { return m_customSlug; }
    // Lower-cases and turns spaces into hyphens as the user types.
    void setCustomSlug(const QString &text);
    bool slugIsInvalid() const;

    QString title() const;
    QString description() const;
    QString caption() const;
    QString linkPrefix() const { return m_service.linkPrefix(); }
    // The published page; invalid while there is none.
    QUrl link() const;

    bool showsSlugSection() const { return !isPublished() && m_signedIn; }
    bool showsLinkRow() const { return isPublished(); }
    bool showsUnpublish() const { return isPublished() && m_signedIn; }
    QString dismissTitle() const;
    // "Publish", "Update", or "Sign In…" while signed out.
    QString primaryTitle() const;
    bool isPrimaryEnabled() const;
    bool isUnpublishEnabled() const { return !m_busy; }

    // The primary button: publish or update while signed in, else sign in.
    void primaryAction();
    void publishOrUpdate();
    void unpublish();
    // The link to put on the clipboard (empty when there is none); shows
    // "Copied" for copiedMs.
    QString copyLink();

Q_SIGNALS:
    void changed();
    // Close the sheet.
    void dismissRequested();
    // Close the sheet, then show where the user signs in.
    void signInRequested();

private:
    void run(QFuture<APIResult<QString>> action, bool dismissOnSuccess);
    void clockWoke();

    QString m_documentID;
    DocumentStore *m_store;
    AppNotifications *m_notifications;
    PublishService m_service;
    SaveClock *m_clock;
    bool m_signedIn = false;
    bool m_busy = false;
    std::optional<QString> m_error;
    bool m_copied = false;
    QString m_customSlug;
    // Every Copy click resets the label on its own, the first due first.
    QList<qint64> m_copiedUntil;
};
