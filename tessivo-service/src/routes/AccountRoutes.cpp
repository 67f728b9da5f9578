#include "AccountRoutes.h"

#include "Credentials.h"
#include "HostRule.h"
#include "Peer.h"
#include "TextRules.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QJsonDocument>

namespace tessivo::server {

namespace {
// A refusal for now, with when to try again.
Reply tooMany(Reply reply, qint64 waitMs)
{
    reply.headers.append({"retry-after", QByteArray::number((waitMs + 999) / 1000)});
    return reply;
}

// The page's words for a wait, in the same whole seconds as Retry-After.
QString failedSignInsMessage(qint64 waitMs)
{
    const qint64 seconds = (waitMs + 999) / 1000;
    if (seconds == 1)
        return QStringLiteral("Too many failed sign-ins. Try again in 1 second.");
    if (seconds < 60)
        return QStringLiteral("Too many failed sign-ins. Try again in %1 seconds.").arg(seconds);
    const qint64 minutes = (waitMs + 59'999) / 60'000;
    if (minutes == 1)
        return QStringLiteral("Too many failed sign-ins. Try again in a minute.");
    return QStringLiteral("Too many failed sign-ins. Try again in %1 minutes.").arg(minutes);
}

QString providerName(const QString &provider)
{
    return provider == QLatin1String("github") ? QStringLiteral("GitHub") : QStringLiteral("Google");
}

// The local account form that stands in for the provider's login.
Reply signInForm(int status, const QString &provider, const QString &message,
                 const QHash<QString, QString> &form)
{
    const auto field = [&](const char *name) { return htmlEscape(form.value(QLatin1String(name))); };
    const QString error =
        message.isEmpty() ? QString() : QStringLiteral("<p class=error>%1</p>").arg(htmlEscape(message));
    const QString html =
        QStringLiteral(
            "<!doctype html><html><head><meta charset=utf-8><meta name=viewport "
            "content=\"width=device-width\">"
            "<title>Sign in to Tessivo</title><link rel=stylesheet href=\"/style.css\"></head>"
            "<body class=signin>"
            "<h1>Sign in to Tessivo</h1><p>Continue with your %1 account on this service.</p>%2"
            "<form method=post action=\"%8\"><fieldset><legend>Sign in</legend>"
            "<input type=hidden name=provider value=\"%3\"><input type=hidden name=mode value=signin>"
            "<label>E-mail<input name=email type=email required value=\"%4\"></label>"
            "<label>Password<input name=password type=password required></label>"
            "<button type=submit>Sign in</button></fieldset></form>"
            "<form method=post action=\"%8\"><fieldset><legend>Create an "
            "account</legend>"
            "<input type=hidden name=provider value=\"%3\"><input type=hidden name=mode value=signup>"
            "<label>Name<input name=name required value=\"%5\"></label>"
            "<label>E-mail<input name=email type=email required value=\"%4\"></label>"
            "<label>Password (8 characters or more)<input name=password type=password minlength=8 "
            "required></label>"
            "<label>Site handle (optional, for your site at handle.this-host)<input name=handle value=\"%6\" "
            "pattern=\"%7\"></label>"
            "<button type=submit>Create account</button></fieldset></form>"
            "<p><a href=\"%9\">Cancel</a></p></body></html>")
            .arg(providerName(provider), error, htmlEscape(provider), field("email"), field("name"),
                 field("handle"), htmlEscape(protocol::siteHandles::inputPattern()),
                 protocol::routePath(protocol::Endpoint::signInForm),
                 QString::fromLatin1(protocol::signInCallback::link(protocol::signInCallback::errorItem,
                                                                    protocol::signInCallback::accessDenied)));
    return htmlReply(status, html);
}
} // namespace

Reply AccountRoutes::signInPage(const LoggedRequest &request)
{
    const bool posted = request.method == "POST";
    if (posted && !fromOwnPage(request))
        return htmlReply(403,
                         QStringLiteral("<!doctype html><meta charset=utf-8><title>Sign in to Tessivo</title>"
                                        "<p>Sign in from this service's own sign-in page."));
    const QHash<QString, QString> form = posted ? formFields(request.body) : formFields(request.rawQuery);
    const QString provider = form.value(QStringLiteral("provider"));
    if (provider != QLatin1String("github") && provider != QLatin1String("google"))
        return redirectToApp(protocol::signInCallback::errorItem, protocol::signInCallback::invalidProvider);

    if (!posted)
        return signInForm(200, provider, {}, {});

    const QString email = form.value(QStringLiteral("email")).trimmed();
    const QString password = form.value(QStringLiteral("password"));
    const qint64 t = now();
    std::optional<UserRow> user;
    if (form.value(QStringLiteral("mode")) == QLatin1String("signup")) {
        const QString name = form.value(QStringLiteral("name")).trimmed();
        const QString handle = protocol::siteHandles::normalized(form.value(QStringLiteral("handle")));
        QString problem;
        if (name.isEmpty() || name.size() > 200 || hasControlCharacter(name))
            problem = QStringLiteral("Enter your name.");
        else if (!isEmailAddress(email))
            problem = QStringLiteral("Enter a valid e-mail address.");
        else if (!passwordProblem(password).isEmpty())
            problem = passwordProblem(password);
        else if (!handle.isEmpty() && !protocol::siteHandles::canChoose(handle))
            problem = QStringLiteral("A site handle is 1 to 63 lower-case letters, digits and hyphens, "
                                     "not starting or ending with a hyphen.");
        bool unsaved = false;
        if (problem.isEmpty()) {
            bool madeTooMany = false;
            if (const qint64 wait = signInThrottle.admitSignUp(request.peer, t, &madeTooMany); wait > 0)
                return tooMany(signInForm(429, provider,
                                          madeTooMany ? QStringLiteral("Too many new accounts from this "
                                                                       "address. Try again later.")
                                                      : QStringLiteral("Too many sign-ups from this address. "
                                                                       "Try again later."),
                                          form),
                               wait);
            user = createUser(email, name, password, handle, false, &problem, &unsaved);
            if (!user)
                signInThrottle.signUpFailed(request.peer, t);
        }
        if (!user)
            return signInForm(unsaved ? 503 : 400, provider, problem, form);
    } else {
        // Past the account's own limit only the peers its owner signed in
        // from get through at once: a database question, asked only then.
        bool knownPeer = false;
        if (signInThrottle.accountPaced(email, t) && isEmailAddress(email)) {
            if (const std::optional<UserRow> account = storage.userByEmail(email))
                knownPeer =
                    storage.signedInFrom(account->id, peerKey(request.peer), t - options.limits.knownPeerMs);
        }
        if (const qint64 wait = signInThrottle.admit(request.peer, email, t, knownPeer); wait > 0)
            return tooMany(signInForm(429, provider, failedSignInsMessage(wait), form), wait);
        // An address no account can have isn't looked up (PostgreSQL can't
        // take a NUL in a query).
        if (isEmailAddress(email))
            user = storage.userByEmail(email);
        // An unknown address costs one key derivation like a known one, so
        // the reply's timing doesn't tell which addresses have accounts.
        const QString unknownAccount =
            QStringLiteral("pbkdf2-sha256$%1$AAAAAAAAAAAAAAAAAAAAAA==$").arg(options.passwordIterations);
        const bool matches = passwordMatches(password, user ? user->passwordHash : unknownAccount);
        if (!user || !matches)
            return signInForm(401, provider, QStringLiteral("The e-mail address or password is wrong."),
                              form);
        signInThrottle.succeeded(request.peer, email, t);
    }
    // Remembered so that this peer keeps getting in while others guess.
    storage.transaction([&] {
        return storage.recordSignInPeer(user->id, peerKey(request.peer), t, t - options.limits.knownPeerMs);
    });
    const QString ott = mintOneTimeToken(user->id);
    using namespace protocol::signInCallback;
    return ott.isEmpty() ? redirectToApp(errorItem, internalError) : redirectToApp(tokenItem, ott);
}

// Another site's page must not sign a visitor in (or up) behind their back:
// a browser names the page a form was sent from in Origin, or at least in
// Referer, and it must be one of this service's. A post that carries neither
// comes from no browser another site could drive.
bool AccountRoutes::fromOwnPage(const LoggedRequest &request) const
{
    QByteArray sender = request.header("origin");
    if (sender.isNull())
        sender = request.header("referer");
    if (sender.isNull())
        return true;
    const QUrl url(QString::fromLatin1(sender));
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return false;
    return HostRule(QUrl(options.publicUrl)).isOwnOrigin(url, request.header("host"));
}

Reply AccountRoutes::verifyOneTimeToken(const LoggedRequest &request)
{
    const QJsonDocument json = QJsonDocument::fromJson(request.body);
    const QJsonValue token = json.object().value(QLatin1String("token"));
    if (!json.isObject() || !token.isString())
        return errorReply(400, "invalid_request",
                          QStringLiteral("Send the one-time token as {\"token\": \"…\"}."));
    const std::optional<QString> userId = storage.takeOneTimeToken(tokenHash(token.toString()), now());
    if (!userId)
        return errorReply(401, "invalid_token",
                          QStringLiteral("This sign-in link has expired or was already used."));
    const QString session = issueSession(*userId);
    if (session.isEmpty())
        return errorReply(500, "internal_error", QStringLiteral("The session couldn't be saved. Try again."));
    Reply reply = jsonReply(200, {{QStringLiteral("ok"), true}});
    reply.headers.append({"set-auth-token", session.toLatin1()});
    return reply;
}

static QJsonObject userJson(const UserRow &user)
{
    return {{QStringLiteral("id"), user.id},
            {QStringLiteral("email"), user.email},
            {QStringLiteral("name"), user.name},
            {QStringLiteral("isAdmin"), user.admin}};
}

Reply AccountRoutes::getSession(const LoggedRequest &, const UserRow &user)
{
    return jsonReply(200, {{QStringLiteral("session"), QJsonObject{{QStringLiteral("userId"), user.id}}},
                           {QStringLiteral("user"), userJson(user)}});
}

Reply AccountRoutes::signOut(const LoggedRequest &request)
{
    const QByteArray value = protocol::bearerToken(request.header("authorization"));
    if (!storage.transaction([&] { return storage.deleteSession(tokenHash(QString::fromLatin1(value))); }))
        return errorReply(500, "internal_error", QStringLiteral("Sign-out failed."));
    return jsonReply(200, {{QStringLiteral("ok"), true}});
}

Reply AccountRoutes::me(const UserRow &user)
{
    MeResponse reply{{user.id, user.email, user.name, std::nullopt, user.admin}, std::nullopt};
    if (!user.handle.isEmpty())
        reply.site = MeResponse::Site{user.handle, std::nullopt};
    return jsonReply(200, reply.toJson());
}

} // namespace tessivo::server
