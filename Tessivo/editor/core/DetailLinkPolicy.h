#pragma once

#include <QString>
#include <QUrl>

// What the preview does with a navigation: a wiki link selects or offers to
// create a document, a web or mail link opens outside the app, a link to a
// place in the page scrolls there, the page may load itself, and nothing else
// may take the preview anywhere.
namespace DetailLinkPolicy {

enum class Action {
    openDocument,     // `value` is the document id
    offerNewDocument, // `value` is the title of the missing document
    openExternally,   // http, https and mailto links, in the default application
    scrollWithinPage, // a fragment of the page itself (footnotes, headings)
    loadPage,         // the page's own load and reloads
    refuse,
};

struct Decision
{
    Action action = Action::refuse;
    QString value;

    // Whether the web view itself may follow the navigation.
    bool allowsNavigation() const { return action == Action::scrollWithinPage || action == Action::loadPage; }
};

// `isLinkClick`: the user activated a link (as opposed to a load, a reload,
// a redirect, a form or a script). `pageUrl`: the preview page's own URL.
Decision decide(const QUrl &url, bool isLinkClick, const QUrl &pageUrl);

} // namespace DetailLinkPolicy
