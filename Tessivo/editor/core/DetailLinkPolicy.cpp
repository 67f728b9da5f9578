#include "editor/core/DetailLinkPolicy.h"

#include "editor/core/WikiLinks.h"

using namespace Qt::StringLiterals;

namespace DetailLinkPolicy {

namespace {

bool isPageItself(const QUrl &url, const QUrl &pageUrl)
{
    return pageUrl.isValid() && !pageUrl.isEmpty() &&
           url.adjusted(QUrl::RemoveFragment) == pageUrl.adjusted(QUrl::RemoveFragment);
}

} // namespace

Decision decide(const QUrl &url, bool isLinkClick, const QUrl &pageUrl)
{
    if (!isLinkClick) {
        // The page's own load and reloads; a script, a redirect, a form or a
        // refresh may not take the view anywhere else.
        if (url.isEmpty() || isPageItself(url, pageUrl))
            return {Action::loadPage, {}};
        return {Action::refuse, {}};
    }
    if (!url.isValid() || url.isEmpty())
        return {Action::refuse, {}};
    if (const auto link = WikiLinks::parse(url)) {
        if (link->kind == WikiLinks::Link::Kind::Existing)
            return {Action::openDocument, link->value};
        return {Action::offerNewDocument, link->value};
    }
    if (isPageItself(url, pageUrl)) {
        // Footnotes and other links to a place in the page scroll there; a
        // link to the bare page would reload it and lose its content.
        if (url.hasFragment())
            return {Action::scrollWithinPage, url.fragment(QUrl::FullyDecoded)};
        return {Action::refuse, {}};
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == u"http"_s || scheme == u"https"_s || scheme == u"mailto"_s)
        return {Action::openExternally, url.toString()};
    return {Action::refuse, {}};
}

} // namespace DetailLinkPolicy
