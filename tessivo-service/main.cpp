#include "Server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcessEnvironment>

#include <cstdio>
#include <iostream>
#include <limits>
#include <string>

#include <malloc.h>
#include <termios.h>
#include <unistd.h>

using namespace tessivo::server;

// One line of standard input, not echoed when it is a terminal.
static QString readSecretLine(const char *prompt)
{
    const bool terminal = isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    return QString::fromStdString(line);
}

// --create-admin: asks for the password (twice on a terminal) and creates
// the account, which --admin then names.
static int createAdminAccount(const ServerOptions &options, const QString &email)
{
    const QString password = readSecretLine("Password for the new account: ");
    if (isatty(STDIN_FILENO) && readSecretLine("The same password again: ") != password) {
        std::fprintf(stderr, "tessivo-service: the passwords differ; nothing was created\n");
        return 1;
    }
    QString error;
    if (!Server::createAdmin(options, email, password, &error)) {
        std::fprintf(stderr, "tessivo-service: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("Created %s. Start the service with --admin %s to make it the admin.\n",
                qPrintable(email.trimmed().toLower()), qPrintable(email.trimmed().toLower()));
    return 0;
}

// "500M", "2G", "1048576": bytes, with an optional K, M, G or T for powers
// of 1024. Zero when the text is none of these.
static qint64 parseByteCount(const QString &text)
{
    static const QString units = QStringLiteral("KMGT");
    QString digits = text.trimmed().toUpper();
    if (digits.endsWith(QLatin1Char('B')) && digits.size() > 1 && units.contains(digits[digits.size() - 2]))
        digits.chop(1); // "2GB" as well as "2G"
    int shift = 0;
    if (!digits.isEmpty() && units.contains(digits.back())) {
        shift = 10 * (int(units.indexOf(digits.back())) + 1);
        digits.chop(1);
    }
    bool ok = false;
    const qint64 count = digits.toLongLong(&ok);
    if (!ok || count <= 0 || count > (std::numeric_limits<qint64>::max() >> shift))
        return 0;
    return count << shift;
}

int main(int argc, char *argv[])
{
    // SQLite cuts each piece of an image reply from the whole blob, read
    // into memory on whichever worker asks. glibc would raise its mmap
    // threshold after the first such blob is freed and then keep later ones
    // in each worker's arena: some 10 MB of resident memory per worker that
    // once sent a large image. Large blocks stay mapped and go back at once.
    // Set here, before any thread runs, for this process alone.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessivo-service"));
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    QCommandLineParser parser;
    QString description = QStringLiteral("The Tessivo web service: accounts, sync, publishing, images "
                                         "and AI forwarding for the Tessivo app.\n\nLimits:");
    for (const QString &line : ServiceLimits().describe())
        description += QStringLiteral("\n  ") + line;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Listen on ADDRESS:PORT (repeatable; IPv6 as [::1]:8787). "
                                                   "Default: 127.0.0.1 and ::1 on port 8787."),
                                    QStringLiteral("address:port"));
    const QCommandLineOption database(
        QStringLiteral("database"),
        QStringLiteral("sqlite:PATH, or postgres:\"host=… port=… dbname=… user=… password=…\". "
                       "Default: SQLite in ~/.local/share/tessivo-service/. Also TESSIVO_SERVICE_DATABASE."),
        QStringLiteral("spec"));
    const QCommandLineOption aiEndpoint(
        QStringLiteral("ai-endpoint"),
        QStringLiteral(
            "OpenAI-compatible chat-completions URL, e.g. http://localhost:11434/v1/chat/completions. "
            "Also TESSIVO_AI_ENDPOINT."),
        QStringLiteral("url"));
    const QCommandLineOption aiModel(QStringLiteral("ai-model"),
                                     QStringLiteral("Model name sent upstream. Also TESSIVO_AI_MODEL."),
                                     QStringLiteral("name"));
    const QCommandLineOption aiKey(QStringLiteral("ai-key"),
                                   QStringLiteral("Bearer key for the upstream. Prefer TESSIVO_AI_KEY, which "
                                                  "stays out of the process list."),
                                   QStringLiteral("key"));
    const QCommandLineOption publicUrl(QStringLiteral("public-url"),
                                       QStringLiteral("Scheme and host that links in replies start with, "
                                                      "e.g. https://tessivo.example.com. Required unless the "
                                                      "service listens on loopback only."),
                                       QStringLiteral("url"));
    const QCommandLineOption admin(
        QStringLiteral("admin"),
        QStringLiteral("E-mail of the admin account, whose \"site-blog\" collection "
                       "is the service's blog (repeatable). The account must exist: see --create-admin."),
        QStringLiteral("email"));
    const QCommandLineOption trustedProxy(
        QStringLiteral("trusted-proxy"),
        QStringLiteral("Address of a reverse proxy in front of the service (repeatable). Its requests "
                       "count against the rightmost X-Forwarded-For address that is not a trusted proxy, "
                       "in every per-client limit; that header is ignored from every other address."),
        QStringLiteral("address"));
    const QCommandLineOption quota(
        QStringLiteral("quota"),
        QStringLiteral("Bytes each account may keep, every stored field of its documents, collections, "
                       "published articles and images counted, e.g. 500M or 5G. Default: 1G."),
        QStringLiteral("size"));
    parser.addOptions({listen, database, aiEndpoint, aiModel, aiKey, publicUrl, admin, trustedProxy, quota});
    const QCommandLineOption createAdmin(
        QStringLiteral("create-admin"),
        QStringLiteral("Create the account for an --admin address: asks for its password, then exits."),
        QStringLiteral("email"));
    parser.addOption(createAdmin);
    parser.process(app);

    ServerOptions options;
    for (const QString &item : parser.values(listen)) {
        const qsizetype colon = item.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const quint16 port = colon > 0 ? item.mid(colon + 1).toUShort(&ok) : 0;
        QString host = item.left(colon);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        const QHostAddress address(host);
        if (!ok || address.isNull()) {
            std::fprintf(stderr, "tessivo-service: --listen wants ADDRESS:PORT, got \"%s\"\n",
                         qPrintable(item));
            return 2;
        }
        options.listen.append({address, port});
    }
    const auto pick = [&](const QCommandLineOption &option, const char *variable) {
        return parser.isSet(option) ? parser.value(option) : env.value(QLatin1String(variable));
    };
    options.database = pick(database, "TESSIVO_SERVICE_DATABASE");
    options.aiEndpoint = QUrl(pick(aiEndpoint, "TESSIVO_AI_ENDPOINT"));
    options.aiModel = pick(aiModel, "TESSIVO_AI_MODEL");
    options.aiKey = pick(aiKey, "TESSIVO_AI_KEY");
    options.publicUrl = parser.value(publicUrl);
    options.adminEmails = parser.values(admin);
    for (const QString &item : parser.values(trustedProxy)) {
        const QHostAddress address(item);
        if (address.isNull()) {
            std::fprintf(stderr, "tessivo-service: --trusted-proxy wants an IP address, got \"%s\"\n",
                         qPrintable(item));
            return 2;
        }
        options.trustedProxies.append(address);
    }
    if (parser.isSet(quota)) {
        options.limits.quotaBytes = parseByteCount(parser.value(quota));
        if (options.limits.quotaBytes <= 0) {
            std::fprintf(stderr, "tessivo-service: --quota wants a size such as 500M or 5G, got \"%s\"\n",
                         qPrintable(parser.value(quota)));
            return 2;
        }
    }
    if (parser.isSet(createAdmin))
        return createAdminAccount(options, parser.value(createAdmin));

    Server server(options);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "tessivo-service: %s\n", qPrintable(error));
        return server.startFailureStatus();
    }
    std::printf("Tessivo service listening on %s%s\n", qPrintable(server.baseUrl().toString()),
                options.aiEndpoint.isEmpty() ? " (AI not set up)" : "");
    std::fflush(stdout);
    return app.exec();
}
