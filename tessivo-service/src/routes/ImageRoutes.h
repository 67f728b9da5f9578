#pragma once

#include "RouteContext.h"

#include <variant>

namespace tessivo::server {

// The image library and the public image URLs.
class ImageRoutes final : public RouteContext
{
public:
    using RouteContext::RouteContext;

    Reply listImages(const LoggedRequest &request, const UserRow &user);
    Reply uploadImage(const LoggedRequest &request, const UserRow &user);
    // The head of an image's reply, its bytes to follow from `imagePiece`;
    // or the whole reply when there is no such image.
    std::variant<Reply, std::pair<Reply, ImageRow>> imageHead(const QString &id);
};

} // namespace tessivo::server
