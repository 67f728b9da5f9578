#include "TestFront.h"

#include "ServerPrivate.h"
#include "TextRules.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"

#include <QPointer>
#include <QTimer>
#include <QUrlQuery>

namespace tessivo::server {

namespace {
void playAiScript(QPointer<HttpConnection> connection, AiScript script, HeaderList headers)
{
    HeaderList head = script.headers + headers;
    bool typed = false;
    for (const auto &[name, value] : head)
        typed = typed || name.compare("content-type", Qt::CaseInsensitive) == 0;
    if (!typed)
        head.append({QByteArray("content-type"), QByteArray("text/plain; charset=utf-8")});
    connection->beginStream(script.status, head);
    // Each piece waits its delay after the one before it.
    auto step = std::make_shared<std::function<void(qsizetype)>>();
    *step = [connection, script, step](qsizetype index) {
        if (!connection)
            return;
        if (index == script.pieces.size()) {
            if (script.abortAtEnd)
                connection->abort();
            else
                connection->endStream();
            *step = nullptr; // break the cycle
            return;
        }
        QTimer::singleShot(script.pieces[index].delayMs, connection, [connection, script, step, index] {
            if (!connection || !*step)
                return;
            connection->writeChunk(script.pieces[index].bytes);
            (*step)(index + 1);
        });
    };
    (*step)(0);
}
} // namespace

TestFront &TestFront::of(Server &server)
{
    if (auto *front = server.findChild<TestFront *>(QString(), Qt::FindDirectChildrenOnly))
        return *front;
    return *new TestFront(server);
}

TestFront::TestFront(Server &server) : QObject(&server), m_server(server)
{
    Server::Private &d = *server.d;
    d.front = [this](HttpConnection *connection, const LoggedRequest &request) {
        handle(connection, request);
    };
    d.onRefused = [this](const LoggedRequest &head) { log.append(head); };
}

std::optional<ScriptedReply> TestFront::takeForced(const LoggedRequest &request)
{
    std::optional<ScriptedReply> chosen;
    for (auto it = forced.begin(); it != forced.end();) {
        if (it->method == request.method && it->path == request.path && --it->remaining == 0) {
            if (!chosen)
                chosen = it->reply;
            it = forced.erase(it);
        } else {
            ++it;
        }
    }
    return chosen;
}

void TestFront::handle(HttpConnection *connection, const LoggedRequest &request)
{
    log.append(request);
    std::optional<ScriptedReply> scripted = takeForced(request);
    QPointer<HttpConnection> guard(connection);
    auto answer = [this, guard, request, scripted] {
        if (!guard)
            return;
        if (!scripted) {
            if (!intercept(guard, request))
                m_server.d->route(guard, request);
        } else if (scripted->closeWithoutReply) {
            guard->abort();
        } else {
            guard->reply(scripted->status, scripted->headers, scripted->body);
        }
    };
    if (hold.remaining > 0 && hold.method == request.method && hold.path == request.path) {
        --hold.remaining;
        held.append(answer);
        return;
    }
    const int delay = latency.value(request.path);
    if (delay > 0)
        QTimer::singleShot(delay, connection, answer);
    else
        answer();
}

// Answers sign-in and AI requests the test scripted; false for the rest.
bool TestFront::intercept(HttpConnection *connection, const LoggedRequest &request)
{
    Server::Private &d = *m_server.d;
    const auto send = [connection](const Reply &reply) {
        connection->reply(reply.status, reply.headers, reply.body);
        return true;
    };
    if (nextSignIn && isFor(request, protocol::Endpoint::signInPage)) {
        const QString provider = formFields(request.rawQuery).value(QStringLiteral("provider"));
        if (provider != QLatin1String("github") && provider != QLatin1String("google"))
            return false;
        const SignInOutcome outcome = nextSignIn->first;
        const QString userId = nextSignIn->second;
        nextSignIn.reset();
        using namespace protocol::signInCallback;
        switch (outcome) {
        case SignInOutcome::SignIn: {
            QString ott;
            d.pool.runAndWait([&](Router &router) { ott = router.context().mintOneTimeToken(userId); });
            return send(ott.isEmpty() ? redirectToApp(errorItem, internalError)
                                      : redirectToApp(tokenItem, ott));
        }
        case SignInOutcome::AccessDenied:
            return send(redirectToApp(errorItem, accessDenied));
        case SignInOutcome::SessionMissing:
            return send(redirectToApp(errorItem, sessionMissing));
        case SignInOutcome::InternalError:
            return send(redirectToApp(errorItem, internalError));
        case SignInOutcome::Cancelled:
            return send(redirectToApp(errorItem, QStringLiteral("cancelled")));
        }
    }
    if (aiScript && isFor(request, protocol::Endpoint::ai)) {
        HeaderList extra;
        bool signedIn = false;
        d.pool.runAndWait(
            [&](Router &router) { signedIn = router.context().authenticate(request, &extra).has_value(); });
        if (!signedIn)
            return send(unauthorizedReply());
        const AiScript script = *aiScript;
        aiScript.reset();
        playAiScript(connection, script, extra);
        return true;
    }
    return false;
}

} // namespace tessivo::server
