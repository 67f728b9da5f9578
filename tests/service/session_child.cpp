// One run of the app's session against the desktop's keyring, as
// tst_sessionkeyring starts the app again and again: it ends as a process
// does, with whatever the keyring had not carried out left undone. Driven a
// line at a time on standard input:
//   start            the keyring's read
//   timeout          the read's time runs out
//   sign-in <token>  a finished sign-in
//   quit             the quit's wait for the keyring, then the end
//   grace-over       the quit's wait runs out
// Prints "settled <token>" ("settled none" when signed out) once the read
// has ended or timed out, "quitting" as the quit's wait begins, and "quit
// written" or "quit timedOut" before it ends. Arg: <settings file>.
#include "service/core/APIClient.h"
#include "service/core/Keychain.h"
#include "service/core/Session.h"
#include "store/ManualSaveClock.h"

#include <QCoreApplication>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void emitLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2)
        return 2;
    QSettings settings(app.arguments().at(1), QSettings::IniFormat);
    APIClient client(QUrl(QStringLiteral("http://127.0.0.1:9")));
    ManualSaveClock clock;
    Session session(&client, Keychain(Keychain::secretService()), &settings, &clock);
    QObject::connect(&session, &Session::readingChanged, &app, [&] {
        if (!session.isReading())
            emitLine(QStringLiteral("settled ") + session.token().value_or(QStringLiteral("none")));
    });

    const auto quit = [&] {
        emitLine(QStringLiteral("quitting"));
        const Session::KeyringWait wait = session.waitForKeyring(1000);
        emitLine(wait == Session::KeyringWait::written ? QStringLiteral("quit written")
                                                       : QStringLiteral("quit timedOut"));
        QCoreApplication::exit(0);
    };
    const auto handle = [&](const QString &line) {
        if (line == QLatin1String("start"))
            session.start();
        else if (line == QLatin1String("timeout"))
            clock.advance(Session::readTimeoutMs);
        else if (line.startsWith(QLatin1String("sign-in ")))
            session.begin(line.mid(8));
        else if (line == QLatin1String("quit"))
            QTimer::singleShot(0, &app, quit); // its wait runs the event loop, and takes lines too
        else if (line == QLatin1String("grace-over"))
            clock.advance(1000);
    };
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray buffered;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char chunk[512];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        buffered.append(chunk, n);
        for (qsizetype end; (end = buffered.indexOf('\n')) >= 0;) {
            const QString line = QString::fromUtf8(buffered.left(end));
            buffered.remove(0, end + 1);
            handle(line);
        }
    });
    return QCoreApplication::exec();
}
