#include "publishing/core/PublishSheetModel.h"

#include "app/core/AppNotifications.h"
#include "protocol/Rules.h"
#include "publishing/core/PublishToast.h"
#include "store/DocumentStore.h"
#include "store/SaveClock.h"
#include "store/ThenWhileAlive.h"

#include <QPointer>

using namespace Qt::StringLiterals;

PublishSheetModel::PublishSheetModel(const QString &documentID, DocumentStore *store,
                                     AppNotifications *notifications, const PublishService &service,
                                     SaveClock *clock, QObject *parent)
    : QObject(parent), m_documentID(documentID), m_store(store), m_notifications(notifications),
      m_service(service), m_clock(clock)
{
    connect(m_store, &DocumentStore::stateChanged, this, &PublishSheetModel::changed);
    connect(m_store, &DocumentStore::documentsChanged, this, &PublishSheetModel::changed);
    connect(m_clock, &SaveClock::woke, this, &PublishSheetModel::clockWoke);
}

std::optional<QString> PublishSheetModel::slug() const
{
    return m_store->publishedSlug(m_documentID);
}

void PublishSheetModel::setSignedIn(bool signedIn)
{
    if (m_signedIn == signedIn)
        return;
    m_signedIn = signedIn;
    Q_EMIT changed();
}

void PublishSheetModel::setCustomSlug(const QString &text)
{
    QString normalized = text.toLower();
    normalized.replace(u' ', u'-');
    if (normalized == m_customSlug)
        return;
    m_customSlug = normalized;
    Q_EMIT changed();
}

bool PublishSheetModel::slugIsInvalid() const
{
    return !m_customSlug.isEmpty() && !PublishService::isValidSlug(m_customSlug);
}

QString PublishSheetModel::title() const
{
    return isPublished() ? u"Published"_s : u"Publish this document"_s;
}

QString PublishSheetModel::description() const
{
    if (isPublished())
        return u"Anyone with the link can read it. It won't appear in search results. Update replaces the "
               "content behind the same link."_s;
    QString text = u"Creates a read-only link you can share. It won't appear in search results, and you can "
                   "unpublish at any time."_s;
    if (!m_signedIn)
        text += u" Publishing requires a free account."_s;
    return text;
}

QString PublishSheetModel::caption() const
{
    return slugIsInvalid() ? protocol::slugs::ruleText() : u"Leave blank for a random, hard-to-guess link."_s;
}

QUrl PublishSheetModel::link() const
{
    const std::optional<QString> current = slug();
    return current ? m_service.publicLink(*current) : QUrl();
}

QString PublishSheetModel::dismissTitle() const
{
    return isPublished() ? u"Done"_s : u"Cancel"_s;
}

QString PublishSheetModel::primaryTitle() const
{
    if (!m_signedIn)
        return u"Sign In\u2026"_s;
    return isPublished() ? u"Update"_s : u"Publish"_s;
}

bool PublishSheetModel::isPrimaryEnabled() const
{
    if (!m_signedIn)
        return true;
    return !m_busy && m_store->document(m_documentID).has_value() && !slugIsInvalid();
}

void PublishSheetModel::primaryAction()
{
    if (m_signedIn) {
        publishOrUpdate();
    } else {
        Q_EMIT dismissRequested();
        Q_EMIT signInRequested();
    }
}

void PublishSheetModel::publishOrUpdate()
{
    const std::optional<Document> document = m_store->document(m_documentID);
    if (!document || !isPrimaryEnabled())
        return;
    const PublishService service = m_service;
    // The toast outlives the sheet, which may close before the reply.
    const QPointer<AppNotifications> notifications(m_notifications);
    if (const std::optional<QString> current = slug()) {
        const QUrl link = service.publicLink(*current);
        run(thenWhileAlive(service.update(*document, *current), m_store,
                           [link, notifications](const APIResult<QString> &result) {
                               if (result && notifications)
                                   PublishToast::post(notifications, u"Changes published"_s, link);
                               return result;
                           }),
            true);
        return;
    }
    const std::optional<QString> requested =
        m_customSlug.isEmpty() ? std::nullopt : std::optional<QString>(m_customSlug);
    run(thenWhileAlive(service.publish(*document, requested), m_store,
                       [service, notifications](const APIResult<QString> &result) {
                           if (result && notifications)
                               PublishToast::post(notifications, u"Article published"_s,
                                                  service.publicLink(result.value()));
                           return result;
                       }),
        true);
}

void PublishSheetModel::unpublish()
{
    const std::optional<QString> current = slug();
    if (!current || m_busy)
        return;
    run(m_service.unpublish(m_documentID, *current), false);
}

void PublishSheetModel::run(QFuture<APIResult<QString>> action, bool dismissOnSuccess)
{
    m_busy = true;
    m_error.reset();
    Q_EMIT changed();
    thenWhileAlive(action, this, [this, dismissOnSuccess](const APIResult<QString> &result) {
        m_busy = false;
        if (!result)
            m_error = result.failure().userText();
        Q_EMIT changed();
        if (result && dismissOnSuccess)
            Q_EMIT dismissRequested();
    });
}

QString PublishSheetModel::copyLink()
{
    const QUrl url = link();
    if (!url.isValid())
        return QString();
    m_copied = true;
    m_copiedUntil.append(m_clock->nowMs() + copiedMs);
    if (m_copiedUntil.size() == 1)
        m_clock->wakeAt(m_copiedUntil.first());
    Q_EMIT changed();
    return url.toString(QUrl::FullyEncoded);
}

void PublishSheetModel::clockWoke()
{
    const qint64 now = m_clock->nowMs();
    bool due = false;
    while (!m_copiedUntil.isEmpty() && m_copiedUntil.first() <= now) {
        m_copiedUntil.removeFirst();
        due = true;
    }
    if (!m_copiedUntil.isEmpty())
        m_clock->wakeAt(m_copiedUntil.first());
    if (due && m_copied) {
        m_copied = false;
        Q_EMIT changed();
    }
}
