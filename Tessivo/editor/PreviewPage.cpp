#include "editor/PreviewPage.h"

#include "editor/PreviewProfile.h"
#include "editor/core/DetailLinkPolicy.h"
#include "platform/PlainTextAlert.h"
#include "store/DocumentStore.h"
#include "widgets/ExternalLink.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <cstring>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// A page that exists only to catch a link meant for a new window (a link with
// a target, or a middle click) and hand it to the preview's link policy.
class NewWindowCatcher final : public QWebEnginePage
{
public:
    NewWindowCatcher(QWebEngineProfile *profile, std::function<void(const QUrl &)> onLink, QObject *parent)
        : QWebEnginePage(profile, parent), m_onLink(std::move(onLink))
    {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        if (m_onLink && url.isValid())
            m_onLink(url);
        m_onLink = nullptr;
        deleteLater();
        return false;
    }

private:
    std::function<void(const QUrl &)> m_onLink;
};

// A JavaScript string literal for `text`; valid JSON as well. Written by hand
// because the preview of a long document sends a megabyte per update.
QString javaScriptStringLiteral(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16 + 2);
    out += u'"';
    const QChar *data = text.constData();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = data[i].unicode();
        switch (c) {
        case u'"':
            out += u"\\\""_s;
            break;
        case u'\\':
            out += u"\\\\"_s;
            break;
        case u'\n':
            out += u"\\n"_s;
            break;
        case u'\r':
            out += u"\\r"_s;
            break;
        case u'\t':
            out += u"\\t"_s;
            break;
        default: {
            const bool control = c < 0x20 || c == 0x2028 || c == 0x2029;
            // A lone surrogate cannot cross the UTF-8 bridge to the page.
            bool loneSurrogate = false;
            if (QChar::isHighSurrogate(c))
                loneSurrogate = i + 1 >= size || !QChar::isLowSurrogate(data[i + 1].unicode());
            else if (QChar::isLowSurrogate(c))
                loneSurrogate = i == 0 || !QChar::isHighSurrogate(data[i - 1].unicode());
            if (control || loneSurrogate)
                out += u"\\u"_s + QString::number(c, 16).rightJustified(4, u'0');
            else
                out += QChar(c);
        }
        }
    }
    out += u'"';
    return out;
}

// Where `after` differs from `before`: the `removed` characters of `before`
// at `from` became the `inserted` characters of `after` there; the rest is
// the same start and the same end.
struct Change
{
    qsizetype from = 0;
    qsizetype removed = 0;
    qsizetype inserted = 0;
};

Change changeBetween(QStringView before, QStringView after)
{
    // Compared a page of memory at a time: the HTML of a long document runs
    // to megabytes, and a keystroke changes a few characters of it.
    constexpr qsizetype step = 2048;
    const qsizetype limit = std::min(before.size(), after.size());
    const auto same = [](const QChar *a, const QChar *b, qsizetype n) {
        return std::memcmp(a, b, size_t(n) * sizeof(QChar)) == 0;
    };
    qsizetype start = 0;
    while (start + step <= limit && same(before.data() + start, after.data() + start, step))
        start += step;
    while (start < limit && before[start] == after[start])
        ++start;
    const qsizetype room = limit - start;
    qsizetype end = 0;
    while (end + step <= room &&
           same(before.data() + before.size() - end - step, after.data() + after.size() - end - step, step))
        end += step;
    while (end < room && before[before.size() - 1 - end] == after[after.size() - 1 - end])
        ++end;
    return {start, before.size() - start - end, after.size() - start - end};
}

bool samePage(const QUrl &a, const QUrl &b)
{
    return a.adjusted(QUrl::RemoveFragment) == b.adjusted(QUrl::RemoveFragment);
}

} // namespace

PreviewPage::PreviewPage(PreviewProfile *profile, DocumentStore *store, QObject *parent)
    : PreviewPage(profile, store, Strategies{}, parent)
{}

PreviewPage::PreviewPage(PreviewProfile *profile, DocumentStore *store, Strategies strategies,
                         QObject *parent)
    : QWebEnginePage(profile->profile(), parent), m_store(store),
      m_opener(std::move(strategies.externalOpener)), m_prompt(std::move(strategies.missingDocumentPrompt))
{
    setBackgroundColor(Qt::transparent);
    connect(this, &QWebEnginePage::loadFinished, this, &PreviewPage::pageLoadFinished);
    // A crashed page comes back with what it showed.
    connect(this, &QWebEnginePage::renderProcessTerminated, this,
            [this](RenderProcessTerminationStatus status, int) {
                if (status == NormalTerminationStatus || m_pageUrl.isEmpty())
                    return;
                m_loaded = false;
                if (!m_pending && m_last)
                    m_pending = m_last;
                m_last.reset();
                QTimer::singleShot(0, this, [this] { load(m_pageUrl); });
            });
}

void PreviewPage::loadFrom(const QString &folder)
{
    const QString index = QDir(folder).filePath(u"index.html"_s);
    if (folder.isEmpty() || !QFileInfo(index).isFile())
        return;
    m_pageUrl = QUrl::fromLocalFile(QFileInfo(index).absoluteFilePath());
    load(m_pageUrl);
}

void PreviewPage::update(const QString &html, Place place)
{
    if (!m_loaded) {
        m_pending = html;
        if (place == Place::top)
            m_pendingPlace = place;
        return;
    }
    if (place == Place::top) {
        // The whole of it: another document's text has little to patch.
        sendWhole(html, ++m_version, place);
        Q_EMIT contentSent(html);
        return;
    }
    if (m_last && *m_last == html)
        return;
    send(html);
}

void PreviewPage::send(const QString &html)
{
    const quint64 version = ++m_version;
    if (!m_last) {
        sendWhole(html, version);
        Q_EMIT contentSent(html);
        return;
    }
    // The page holds the last content sent (version - 1): only the change
    // travels, so the cost of a keystroke does not grow with the document.
    const Change change = changeBetween(*m_last, html);
    m_last = html;
    const QString script = u"window.__patchContent(%1, %2, %3, %4, "_s.arg(version - 1)
                               .arg(version)
                               .arg(change.from)
                               .arg(change.removed) +
                           javaScriptStringLiteral(html.mid(change.from, change.inserted)) + u");"_s;
    QPointer<PreviewPage> self(this);
    runJavaScript(script, [self, version](const QVariant &applied) {
        // The page did not hold what the change was made against (it was
        // reloaded, or an update failed halfway): it gets the whole content.
        if (self && !applied.toBool() && self->m_loaded && self->m_last && version > self->m_wholeVersion)
            self->sendWhole(*self->m_last, ++self->m_version);
    });
    Q_EMIT contentSent(html);
}

void PreviewPage::sendWhole(const QString &html, quint64 version, Place place)
{
    m_last = html;
    m_wholeVersion = version;
    runJavaScript(u"window.__setContent("_s + javaScriptStringLiteral(html) +
                  (place == Place::top ? u", true"_s : QString()) + u");window.__contentVersion = "_s +
                  QString::number(version) + u";"_s);
}

void PreviewPage::pageLoadFinished(bool ok)
{
    if (!ok || m_loaded)
        return;
    m_loaded = true;
    applyAppearance();
    if (m_pending) {
        const QString html = *m_pending;
        const Place place = std::exchange(m_pendingPlace, Place::kept);
        m_pending.reset();
        update(html, place);
    }
}

void PreviewPage::setDarkAppearance(bool dark)
{
    if (m_dark == dark)
        return;
    m_dark = dark;
    applyAppearance();
}

void PreviewPage::applyAppearance()
{
    if (!m_loaded || !m_dark)
        return;
    runJavaScript(u"document.documentElement.setAttribute('data-scheme', '%1');"_s.arg(*m_dark ? u"dark"_s
                                                                                               : u"light"_s));
}

void PreviewPage::noteUserInput()
{
    m_lastUserInput.start();
}

bool PreviewPage::followsUserInput() const
{
    // The engine reports a script's navigation as a link click too; only a
    // navigation right after the user clicked or pressed a key in the view
    // counts as one.
    return m_lastUserInput.isValid() && m_lastUserInput.elapsed() < 1500;
}

bool PreviewPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    Q_UNUSED(isMainFrame);
    const bool linkClick = type == NavigationTypeLinkClicked && followsUserInput();
    // One click follows one link.
    if (linkClick)
        m_lastUserInput.invalidate();
    const auto decision = DetailLinkPolicy::decide(url, linkClick, m_pageUrl);
    if (decision.allowsNavigation())
        return true;
    if (linkClick)
        handleLinkClick(url);
    Q_EMIT navigationRefused(url);
    return false;
}

void PreviewPage::handleLinkClick(const QUrl &url)
{
    const auto decision = DetailLinkPolicy::decide(url, true, m_pageUrl);
    // The action runs after the web engine's callback has returned: it may
    // open a modal alert or replace the page's content.
    QPointer<PreviewPage> self(this);
    switch (decision.action) {
    case DetailLinkPolicy::Action::openDocument:
        QTimer::singleShot(0, this, [self, id = decision.value] {
            if (self)
                self->openDocumentLink(id);
        });
        break;
    case DetailLinkPolicy::Action::offerNewDocument:
        QTimer::singleShot(0, this, [self, title = decision.value] {
            if (self)
                self->openMissingDocumentLink(title);
        });
        break;
    case DetailLinkPolicy::Action::openExternally:
        QTimer::singleShot(0, this, [self, url] {
            if (!self)
                return;
            if (self->m_opener)
                self->m_opener(url);
            else
                ExternalLink::open(url, QWebEngineView::forPage(self));
        });
        break;
    case DetailLinkPolicy::Action::scrollWithinPage:
        // A link to a place in the page opened as a new window: scroll here.
        if (!url.fragment().isEmpty()) {
            runJavaScript(u"window.__reveal("_s + javaScriptStringLiteral(url.fragment(QUrl::FullyDecoded)) +
                          u");"_s);
        }
        break;
    case DetailLinkPolicy::Action::loadPage:
    case DetailLinkPolicy::Action::refuse:
        break;
    }
}

QWebEnginePage *PreviewPage::createWindow(WebWindowType type)
{
    Q_UNUSED(type);
    QPointer<PreviewPage> self(this);
    return new NewWindowCatcher(
        profile(),
        [self](const QUrl &url) {
            if (self && self->followsUserInput() && !samePage(url, QUrl(u"about:blank"_s)))
                self->handleLinkClick(url);
        },
        this);
}

void PreviewPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                           const QString &)
{
    // The page is ours and quiet; messages caused by a document's raw HTML
    // (refused scripts, blocked images) are expected and not worth a log line.
}

void PreviewPage::openDocumentLink(const QString &id)
{
    if (m_store->document(id))
        m_store->setActiveDocumentID(id);
}

void PreviewPage::openMissingDocumentLink(const QString &title)
{
    bool create = false;
    if (m_prompt) {
        create = m_prompt(title);
    } else {
        QMessageBox box(QApplication::activeWindow());
        box.setIcon(QMessageBox::NoIcon);
        setPlainAlertTexts(box, u"\u201C"_s + title + u"\u201D doesn't exist yet."_s,
                           u"Create a new document with that title?"_s);
        QPushButton *createButton = box.addButton(u"Create"_s, QMessageBox::AcceptRole);
        box.addButton(u"Cancel"_s, QMessageBox::RejectRole);
        box.setDefaultButton(createButton);
        box.exec();
        create = box.clickedButton() == createButton;
    }
    if (!create)
        return;
    std::optional<QString> collection;
    if (const auto active = m_store->activeDocument())
        collection = active->collectionId;
    m_store->createDocumentTitled(title, collection);
}
