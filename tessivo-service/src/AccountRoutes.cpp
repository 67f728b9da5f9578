#include "ServerPrivate.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QJsonDocument>
#include <QUrlQuery>

namespace tessivo::server {

namespace {
const QString callbackBase = QStringLiteral("tessivo://auth");

Reply redirectToApp(const QString &item, const QString &value)
{
    const QByteArray location =
        callbackBase.toUtf8() + '?' + item.toUtf8() + '=' + QUrl::toPercentEncoding(value);
    return {303, {{"location", location}}, {}};
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
            "<title>Sign in to Tessivo</title><style>body{font:15px system-ui,sans-serif;max-width:26em;"
            "margin:3em auto;padding:0 1em}label{display:block;margin:.6em 0}input{display:block;width:100%;"
            "padding:.4em;box-sizing:border-box}button{margin-top:.8em;padding:.5em "
            "1.2em}.error{color:#b00020}"
            "fieldset{border:1px solid #ccc;border-radius:8px;margin:1.2em "
            "0;padding:1em}</style></head><body>"
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
            "<p><a href=\"tessivo://auth?error=access_denied\">Cancel</a></p></body></html>")
            .arg(providerName(provider), error, htmlEscape(provider), field("email"), field("name"),
                 field("handle"), htmlEscape(protocol::siteHandles::inputPattern()),
                 protocol::routePath(protocol::Endpoint::signInForm));
    return htmlReply(status, html);
}
} // namespace

QHash<QString, QString> formFields(const QByteArray &body)
{
    QByteArray raw = body;
    raw.replace('+', "%20");
    QHash<QString, QString> fields;
    for (const auto &[key, value] : QUrlQuery(QString::fromLatin1(raw)).queryItems(QUrl::FullyDecoded))
        fields.insert(key, value);
    return fields;
}

Reply Server::Private::signInPage(const LoggedRequest &request)
{
    const bool posted = request.method == "POST";
    const QHash<QString, QString> form = posted ? formFields(request.body) : formFields(request.rawQuery);
    const QString provider = form.value(QStringLiteral("provider"));
    if (provider != QLatin1String("github") && provider != QLatin1String("google"))
        return redirectToApp(QStringLiteral("error"), QStringLiteral("invalid_provider"));

    if (!posted && nextSignIn) {
        const auto [outcome, userId] = *nextSignIn;
        nextSignIn.reset();
        switch (outcome) {
        case SignInOutcome::SignIn: {
            const QString ott = mintOneTimeToken(userId);
            return ott.isEmpty() ? redirectToApp(QStringLiteral("error"), QStringLiteral("internal_error"))
                                 : redirectToApp(QStringLiteral("ott"), ott);
        }
        case SignInOutcome::AccessDenied:
            return redirectToApp(QStringLiteral("error"), QStringLiteral("access_denied"));
        case SignInOutcome::SessionMissing:
            return redirectToApp(QStringLiteral("error"), QStringLiteral("session_missing"));
        case SignInOutcome::InternalError:
            return redirectToApp(QStringLiteral("error"), QStringLiteral("internal_error"));
        case SignInOutcome::Cancelled:
            return redirectToApp(QStringLiteral("error"), QStringLiteral("cancelled"));
        }
    }
    if (!posted)
        return signInForm(200, provider, {}, {});

    const QString email = form.value(QStringLiteral("email")).trimmed();
    const QString password = form.value(QStringLiteral("password"));
    std::optional<UserRow> user;
    if (form.value(QStringLiteral("mode")) == QLatin1String("signup")) {
        const QString name = form.value(QStringLiteral("name")).trimmed();
        const QString handle = protocol::siteHandles::normalized(form.value(QStringLiteral("handle")));
        QString problem;
        if (name.isEmpty() || name.size() > 200)
            problem = QStringLiteral("Enter your name.");
        else if (!email.contains(QLatin1Char('@')) || email.size() > 320)
            problem = QStringLiteral("Enter a valid e-mail address.");
        else if (password.size() < 8 || password.size() > 1024)
            problem = QStringLiteral("Choose a password of 8 characters or more.");
        else if (!handle.isEmpty() && !protocol::siteHandles::canChoose(handle))
            problem = QStringLiteral("A site handle is 1 to 63 lower-case letters, digits and hyphens, "
                                     "not starting or ending with a hyphen.");
        else
            user = createUser(email, name, password, handle, false, &problem);
        if (!user)
            return signInForm(400, provider, problem, form);
    } else {
        user = storage.userByEmail(email);
        if (!user || !passwordMatches(password, user->passwordHash))
            return signInForm(401, provider, QStringLiteral("The e-mail address or password is wrong."),
                              form);
    }
    const QString ott = mintOneTimeToken(user->id);
    return ott.isEmpty() ? redirectToApp(QStringLiteral("error"), QStringLiteral("internal_error"))
                         : redirectToApp(QStringLiteral("ott"), ott);
}

Reply Server::Private::verifyOneTimeToken(const LoggedRequest &request)
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

Reply Server::Private::getSession(const LoggedRequest &, const UserRow &user)
{
    return jsonReply(200, {{QStringLiteral("session"), QJsonObject{{QStringLiteral("userId"), user.id}}},
                           {QStringLiteral("user"), userJson(user)}});
}

Reply Server::Private::signOut(const LoggedRequest &request)
{
    const QByteArray value = protocol::bearerToken(request.header("authorization"));
    if (!storage.transaction([&] { return storage.deleteSession(tokenHash(QString::fromLatin1(value))); }))
        return errorReply(500, "internal_error", QStringLiteral("Sign-out failed."));
    return jsonReply(200, {{QStringLiteral("ok"), true}});
}

Reply Server::Private::me(const UserRow &user)
{
    MeResponse reply{{user.id, user.email, user.name, std::nullopt, user.admin}, std::nullopt};
    if (!user.handle.isEmpty())
        reply.site = MeResponse::Site{user.handle, std::nullopt};
    return jsonReply(200, reply.toJson());
}

} // namespace tessivo::server
