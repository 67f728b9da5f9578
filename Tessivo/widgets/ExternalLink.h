#pragma once

#include <QUrl>

#include <functional>

class QWidget;

// Web links leave the app through the desktop's handler (the default
// browser). When none can be started the user is told, with the address,
// rather than the click doing nothing.
namespace ExternalLink {

// Hands a link to the desktop; true when a handler was started.
using Opener = std::function<bool(const QUrl &url)>;

// Opens `url` with `opener` (the desktop's handler when empty). On failure a
// window-modal message over `parent` names the address. Returns whether it
// opened.
bool open(const QUrl &url, QWidget *parent, const Opener &opener = {});

} // namespace ExternalLink
