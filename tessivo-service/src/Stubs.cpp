#include "ServerPrivate.h"
namespace tessivo::server {
Reply Server::Private::publish(const LoggedRequest &, const UserRow &)
{
    return errorReply(501, "x", "x");
}
Reply Server::Private::updatePublication(const LoggedRequest &, const UserRow &, const QString &)
{
    return errorReply(501, "x", "x");
}
Reply Server::Private::unpublish(const UserRow &, const QString &)
{
    return errorReply(501, "x", "x");
}
Reply Server::Private::publicPage(const QString &)
{
    return errorReply(501, "x", "x");
}
Reply Server::Private::blog(const LoggedRequest &)
{
    return errorReply(501, "x", "x");
}
std::optional<Reply> Server::Private::userSite(const LoggedRequest &)
{
    return std::nullopt;
}
Reply Server::Private::listImages(const LoggedRequest &, const UserRow &)
{
    return errorReply(501, "x", "x");
}
Reply Server::Private::uploadImage(const LoggedRequest &, const UserRow &)
{
    return errorReply(501, "x", "x");
}
Reply Server::Private::imageBytes(const QString &)
{
    return errorReply(501, "x", "x");
}
void Server::Private::ai(HttpConnection *c, const LoggedRequest &, const HeaderList &)
{
    c->reply(501, {}, {});
}
} // namespace tessivo::server
