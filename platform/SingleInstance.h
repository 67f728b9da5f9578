#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One running Tessivo per user and data folder. The first process listens on
// a local socket; a later launch hands its arguments (for example a
// "tessivo://" sign-in callback URL) to the running one and exits, and the
// running one brings its main window back.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    // `key` names the instance; processes with the same key are one app.
    explicit SingleInstance(const QString &key = defaultKey(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // The key of this user's data folder, so that runs with another HOME or
    // XDG_DATA_HOME (tests, other accounts) are separate apps.
    static QString defaultKey();

    // Hands `arguments` to a running instance. True when one took them (the
    // caller should exit); false when none runs.
    bool forwardToRunningInstance(const QStringList &arguments, int timeoutMs = 2000);

    // Starts listening; false when the socket cannot be set up (the app then
    // simply runs without a single-instance guard).
    bool listen();
    bool isListening() const;
    QString serverName() const { return m_serverName; }

Q_SIGNALS:
    // Another launch happened; `arguments` are its command-line arguments
    // without the program name.
    void activated(const QStringList &arguments);

private:
    void acceptConnections();

    QString m_serverName;
    QLocalServer *m_server = nullptr;
};
