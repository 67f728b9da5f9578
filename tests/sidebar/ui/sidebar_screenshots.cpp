// Renders the sidebar with nested collections, a hovered header, a selected
// document, a drop highlight, a signed-in footer, the menus and the dialogs,
// each to a PNG file.

#include "SidebarTestStore.h"

#include "sidebar/SidebarDialogs.h"
#include "sidebar/SidebarFooterRows.h"
#include "sidebar/SidebarHeader.h"
#include "sidebar/SidebarListView.h"
#include "sidebar/SidebarView.h"
#include "sidebar/core/SidebarDrag.h"

#include <QApplication>
#include <QDir>
#include <QDragMoveEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
    QCoreApplication::setApplicationName(QStringLiteral("sidebar_screenshots"));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();

    SidebarTestStore t;
    qint64 clock = QDateTime::currentMSecsSinceEpoch() - 12LL * 24 * 3600 * 1000;
    t.store->setClockForTesting([&clock] { return clock; });
    Collection blog;
    blog.id = QStringLiteral("site-blog");
    blog.name = QStringLiteral("Blog");
    blog.createdAt = blog.updatedAt = 1;
    Collection site = blog;
    site.id = QStringLiteral("personal-site");
    site.name = QStringLiteral("Personal site");
    t.store->applyPull({}, {blog, site});
    const QString work = t.collection(QStringLiteral("Work"));
    const QString meetings = t.collection(QStringLiteral("Meetings"), work);
    const QString q3 = t.collection(QStringLiteral("Q3 planning"), meetings);
    const QString reading = t.collection(QStringLiteral("Reading notes"));
    t.collection(QStringLiteral("Archive"));
    t.document(
        QStringLiteral("Why plain text lasts"), QStringLiteral("site-blog"),
        QStringLiteral("Files outlive the apps that made them, and Markdown is the friendliest of them."));
    clock += 4LL * 24 * 3600 * 1000;
    t.document(QStringLiteral("Roadmap draft"), q3,
               QStringLiteral("Three themes for the quarter: speed, sync and sharing."));
    clock += 3LL * 24 * 3600 * 1000;
    t.document(QStringLiteral("Weekly sync"), meetings,
               QStringLiteral("Agenda: hiring, the launch date, budget."));
    clock += 4LL * 24 * 3600 * 1000;
    const QString active = t.document(QStringLiteral("Launch checklist"), work,
                                      QStringLiteral("Ship the beta to the first hundred users on Monday."));
    clock += 20LL * 3600 * 1000;
    t.document(QStringLiteral("Thinking, Fast and Slow"), reading,
               QStringLiteral("System one is fast and intuitive; system two is slow and deliberate."));
    clock = QDateTime::currentMSecsSinceEpoch() - 7LL * 60 * 1000;
    t.document(QStringLiteral("Grocery list"), QString(), QStringLiteral("Oat milk, lemons, coffee beans."));
    clock = QDateTime::currentMSecsSinceEpoch() - 10LL * 1000;
    t.document(QStringLiteral("Untitled idea"));
    t.store->setActiveDocumentID(active);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Sidebar"));
    auto *layout = new QHBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *sidebar = new SidebarView(t.store.get(), t.settings.get(), nullptr, nullptr, &window);
    sidebar->setFixedWidth(260);
    layout->addWidget(sidebar);
    window.resize(260, 780);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTest::qWait(100);
    sidebar->grab().save(out + QStringLiteral("/sidebar-tree.png"));

    SidebarListView *list = sidebar->listView();
    const QRect header =
        list->visualRect(sidebar->model()->index(sidebar->model()->rowOfCollection(meetings)));
    QTest::mouseMove(list->viewport(), header.center());
    QTest::qWait(50);
    sidebar->grab().save(out + QStringLiteral("/sidebar-hover.png"));

    QMimeData mime;
    mime.setData(QString::fromLatin1(SidebarDrag::documentReferenceType),
                 SidebarDrag::encodeReference(active));
    const QRect target =
        list->visualRect(sidebar->model()->index(sidebar->model()->rowOfCollection(reading)));
    QDragEnterEvent enter(target.center(), Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &enter);
    QDragMoveEvent move(target.center() + QPoint(0, 1), Qt::MoveAction, &mime, Qt::LeftButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &move);
    QTest::qWait(200);
    sidebar->grab().save(out + QStringLiteral("/sidebar-drop.png"));
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(list->viewport(), &leave);

    // A nested collection dragged over the strip at the end of the list.
    list->scrollToBottom();
    QTest::qWait(50);
    QMimeData collection;
    collection.setData(QString::fromLatin1(SidebarDrag::collectionReferenceType),
                       SidebarDrag::encodeReference(q3));
    sidebar->model()->beginDrag(sidebar->model()->rowOfCollection(q3));
    const QRect strip = list->visualRect(sidebar->model()->index(sidebar->model()->rowCount() - 1));
    const QPoint onStrip(strip.center().x(), strip.top() + 16);
    QDragEnterEvent enterStrip(onStrip, Qt::MoveAction, &collection, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &enterStrip);
    QDragMoveEvent overStrip(onStrip, Qt::MoveAction, &collection, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &overStrip);
    QTest::qWait(200);
    sidebar->grab().save(out + QStringLiteral("/sidebar-strip.png"));
    QCoreApplication::sendEvent(list->viewport(), &leave);
    list->scrollToTop();

    // Half-way through closing a collection, the old rows fade over the new.
    sidebar->model()->toggleCollapsed(work);
    QTest::qWait(80);
    sidebar->grab().save(out + QStringLiteral("/sidebar-collapsing.png"));
    QTest::qWait(300);

    SidebarFooter::SyncStatus syncing;
    syncing.signedIn = true;
    syncing.icon = IconName::cloudCheck;
    syncing.text = QStringLiteral("Synced across devices");
    sidebar->syncStatusRow()->present(syncing);
    SidebarFooter::Account account;
    account.showsUser = true;
    account.displayName = QStringLiteral("Ada Lovelace");
    account.initial = QStringLiteral("A");
    account.toolTip = QStringLiteral("Account and settings");
    sidebar->accountRow()->present(account);
    QTest::mouseMove(sidebar->accountRow(), QPoint(20, 10));
    QTest::qWait(200);
    sidebar->grab().save(out + QStringLiteral("/sidebar-signed-in.png"));

    // The menus and dialogs, each grabbed on its own.
    const auto grabMenu = [&](QMenu *menu, const QString &file) {
        menu->popup(window.mapToGlobal(QPoint(20, 120)));
        QTest::qWait(100);
        menu->grab().save(out + file);
        menu->close();
        delete menu;
    };
    grabMenu(sidebar->createButton()->makeMenu(&window), QStringLiteral("/sidebar-create-menu.png"));
    grabMenu(list->makeCollectionMenu(meetings, &window), QStringLiteral("/sidebar-collection-menu.png"));
    grabMenu(list->makeDocumentMenu(active, &window), QStringLiteral("/sidebar-document-menu.png"));
    sidebar->model()->beginNewSubcollection(work);
    QTest::qWait(100);
    if (QDialog *prompt = sidebar->activePrompt()) {
        prompt->grab().save(out + QStringLiteral("/sidebar-new-collection.png"));
        prompt->reject();
    }
    sidebar->model()->beginDeleteCollection(meetings);
    QTest::qWait(100);
    if (QMessageBox *box = sidebar->activeConfirmation()) {
        box->grab().save(out + QStringLiteral("/sidebar-delete-collection.png"));
        box->reject();
    }
    return 0;
}
