#include "PublishingFixture.h"

#include "app/core/AppNotifications.h"
#include "publishing/core/PublishSheetModel.h"
#include "publishing/core/PublishToast.h"

#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

class TestPublishSheetModel : public QObject
{
    Q_OBJECT

    PublishingFixture f;
    AppNotifications m_notifications;
    ManualSaveClock m_copyClock;
    Document m_doc;

    std::unique_ptr<PublishSheetModel> model(bool signedIn = true)
    {
        auto m = std::make_unique<PublishSheetModel>(m_doc.id, f.store.get(), &m_notifications, f.service(),
                                                     &m_copyClock);
        m->setSignedIn(signedIn);
        return m;
    }
    static QString face(const PublishSheetModel &m)
    {
        return QStringList{m.title(),
                           m.showsSlugSection() ? u"slug"_s : u"-"_s,
                           m.showsLinkRow() ? u"link"_s : u"-"_s,
                           m.showsUnpublish() ? u"Unpublish"_s : u"-"_s,
                           m.dismissTitle(),
                           m.primaryTitle()}
            .join(u'|');
    }
    // The toasts in what the bus carried, as "message url".
    static QStringList toasts(const QSignalSpy &posted)
    {
        QStringList seen;
        for (const QList<QVariant> &args : posted) {
            const auto toast = PublishToast::read(args.at(1).toMap());
            if (args.at(0) == AppNotifications::publishToast)
                seen << (toast ? toast->message + u' ' + toast->url.toString() : u"unreadable"_s);
        }
        return seen;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(f.start()); }
    void init() { m_doc = f.store->createDocument(std::nullopt, u"# Sheet\n\nText."_s); }

    // Signing in or out elsewhere, and the slug coming or going, switch the
    // face at once.
    void facesFollowSignInAndSlug()
    {
        auto m = model(false);
        QSignalSpy changed(m.get(), &PublishSheetModel::changed);
        QStringList faces{face(*m)};
        QVERIFY(m->description().endsWith(u" Publishing requires a free account."_s));
        m->setSignedIn(true);
        faces << face(*m);
        f.store->setPublishedSlug(u"abc"_s, m_doc.id);
        faces << face(*m);
        m->setSignedIn(false);
        faces << face(*m);
        QCOMPARE(faces, (QStringList{u"Publish this document|-|-|-|Cancel|Sign In\u2026"_s,
                                     u"Publish this document|slug|-|-|Cancel|Publish"_s,
                                     u"Published|-|link|Unpublish|Done|Update"_s,
                                     u"Published|-|link|-|Done|Sign In\u2026"_s}));
        QCOMPARE(changed.count(), 3);
        QSignalSpy signIn(m.get(), &PublishSheetModel::signInRequested);
        m->primaryAction();
        QCOMPARE(signIn.count(), 1);
    }

    // Typing lower-cases and turns spaces into hyphens; anything else the
    // rule rejects stays, turns the caption red and holds Publish back.
    void customSlug()
    {
        auto m = model();
        m->setCustomSlug(u"My Post"_s);
        QVERIFY(m->customSlug() == u"my-post"_s && m->isPrimaryEnabled());
        m->setCustomSlug(u"A_B"_s);
        QVERIFY(m->customSlug() == u"a_b"_s && !m->isPrimaryEnabled() &&
                m->caption().startsWith(u"Slugs use"_s));
    }

    // Each click's reset runs on its own: the first due turns the label back.
    void copyShowsCopiedForAWhile()
    {
        f.store->setPublishedSlug(u"abc"_s, m_doc.id);
        auto m = model();
        QCOMPARE(m->copyLink(), f.client->baseURL().toString() + u"/p/abc/"_s);
        m_copyClock.advance(1000);
        m->copyLink();
        m_copyClock.advance(PublishSheetModel::copiedMs - 1001);
        QVERIFY(m->isCopied());
        m_copyClock.advance(1);
        QVERIFY(!m->isCopied());
    }

    // A failed publish keeps the sheet open with the message; the next try
    // clears it; a success closes the sheet and announces the link of the
    // slug the service chose, as does an update.
    void publishThenUpdate()
    {
        QSignalSpy posted(&m_notifications, &AppNotifications::posted);
        auto m = model();
        QSignalSpy dismissed(m.get(), &PublishSheetModel::dismissRequested);
        f.server->hooks().forceReply("POST", u"/api/v1/published"_s, 1, ScriptedReply{500, {}, {}});
        m->publishOrUpdate();
        QVERIFY(m->isBusy() && !m->isPrimaryEnabled());
        QTRY_VERIFY(!m->isBusy());
        QCOMPARE(m->error(), u"Request failed (500)."_s);

        m->setCustomSlug(u"sheet-post"_s);
        m->publishOrUpdate();
        QVERIFY(!m->error());
        QTRY_COMPARE(dismissed.count(), 1);
        m->publishOrUpdate();
        QTRY_COMPARE(dismissed.count(), 2);
        const QString link = f.client->baseURL().toString() + u"/p/sheet-post/"_s;
        QCOMPARE(toasts(posted),
                 (QStringList{u"Article published "_s + link, u"Changes published "_s + link}));
    }

    void closingMidPublishStillStoresAndAnnounces()
    {
        QSignalSpy posted(&m_notifications, &AppNotifications::posted);
        model()->publishOrUpdate();
        QTRY_VERIFY(f.store->publishedSlug(m_doc.id));
        QCOMPARE(toasts(posted),
                 QStringList{u"Article published "_s +
                             f.service().publicLink(*f.store->publishedSlug(m_doc.id)).toString()});
    }
};

QTEST_GUILESS_MAIN(TestPublishSheetModel)
#include "tst_publishsheetmodel.moc"
