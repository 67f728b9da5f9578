#pragma once

// What an app's windows show, read over the desktop's accessibility bus
// (AT-SPI) as a screen reader reads it: objects found by accessible name
// and role, their state, text and place on the screen, and their actions.
// The app must run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 on a session bus
// that can start the accessibility bus (at-spi2-core).

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QList>
#include <QRect>
#include <QString>

#include <optional>

#include <csignal>
#include <sys/types.h>

namespace atspi {

// One object on the bus: the app's bus name and the object's path.
struct Ref
{
    QString service;
    QDBusObjectPath path;
};

inline QDBusArgument &operator<<(QDBusArgument &argument, const Ref &ref)
{
    argument.beginStructure();
    argument << ref.service << ref.path;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument &operator>>(const QDBusArgument &argument, Ref &ref)
{
    argument.beginStructure();
    argument >> ref.service >> ref.path;
    argument.endStructure();
    return argument;
}

} // namespace atspi

Q_DECLARE_METATYPE(atspi::Ref)

namespace atspi {

// The state bits this helper reads (AtspiStateType).
enum State : uint { focused = 12, showing = 25 };

class Bus
{
public:
    // Connects to the accessibility bus that the session bus at
    // `sessionAddress` hands out; `name` keeps connections apart.
    Bus(const QString &sessionAddress, const QString &name) : m_name(name)
    {
        qDBusRegisterMetaType<Ref>();
        qDBusRegisterMetaType<QList<Ref>>();
        QDBusConnection session =
            QDBusConnection::connectToBus(sessionAddress, name + QStringLiteral("-session"));
        const QDBusReply<QString> address = session.call(
            QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                           QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
        if (address.isValid())
            m_connection = QDBusConnection::connectToBus(address.value(), name);
        // The launcher outlives the session bus that started it.
        const QDBusReply<uint> launcher =
            session.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                        QStringLiteral("/org/freedesktop/DBus"),
                                                        QStringLiteral("org.freedesktop.DBus"),
                                                        QStringLiteral("GetConnectionUnixProcessID"))
                         << QStringLiteral("org.a11y.Bus"));
        if (launcher.isValid())
            m_launcher = pid_t(launcher.value());
    }
    // Ends the accessibility bus, with the launcher that started it.
    ~Bus()
    {
        if (m_launcher > 0)
            ::kill(m_launcher, SIGTERM);
        QDBusConnection::disconnectFromBus(m_name);
        QDBusConnection::disconnectFromBus(m_name + QStringLiteral("-session"));
    }
    Q_DISABLE_COPY_MOVE(Bus)

    bool isConnected() const { return m_connection && m_connection->isConnected(); }

    // The first showing object, depth first from the applications down,
    // named `name` whose role's name is `role` (e.g. "push button", "page
    // tab", "label"); none when there is no such object now.
    std::optional<Ref> find(const QString &name, const QString &role) const
    {
        if (!isConnected())
            return std::nullopt;
        const Ref root{QStringLiteral("org.a11y.atspi.Registry"),
                       QDBusObjectPath(QStringLiteral("/org/a11y/atspi/accessible/root"))};
        return findBelow(root, name, role, 0);
    }

    bool hasState(const Ref &ref, State state) const
    {
        const QDBusReply<QList<uint>> reply =
            call(ref, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetState"));
        if (!reply.isValid() || reply.value().size() < 2)
            return false;
        return (reply.value().at(int(state) / 32) >> (uint(state) % 32)) & 1U;
    }

    // Runs the object's first action (a button's or a tab's press).
    bool press(const Ref &ref) const
    {
        const QDBusReply<bool> reply = call(ref, QStringLiteral("org.a11y.atspi.Action"),
                                            QStringLiteral("DoAction"), {QVariant::fromValue(0)});
        return reply.isValid() && reply.value();
    }

    // Where the object is on the screen.
    QRect extents(const Ref &ref) const
    {
        const QDBusMessage reply = call(ref, QStringLiteral("org.a11y.atspi.Component"),
                                        QStringLiteral("GetExtents"), {QVariant::fromValue(0U)});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        const QDBusArgument argument = reply.arguments().constFirst().value<QDBusArgument>();
        int x = 0, y = 0, width = 0, height = 0;
        argument.beginStructure();
        argument >> x >> y >> width >> height;
        argument.endStructure();
        return {x, y, width, height};
    }

private:
    QDBusMessage call(const Ref &ref, const QString &interface, const QString &method,
                      const QVariantList &arguments = {}) const
    {
        QDBusMessage message =
            QDBusMessage::createMethodCall(ref.service, ref.path.path(), interface, method);
        message.setArguments(arguments);
        return m_connection->call(message, QDBus::Block, 10000);
    }

    QString property(const Ref &ref, const QString &name) const
    {
        const QDBusReply<QDBusVariant> reply =
            call(ref, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                 {QStringLiteral("org.a11y.atspi.Accessible"), name});
        return reply.isValid() ? reply.value().variant().toString() : QString();
    }

    std::optional<Ref> findBelow(const Ref &parent, const QString &name, const QString &role, int depth) const
    {
        const QDBusReply<QList<Ref>> children =
            call(parent, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren"));
        if (!children.isValid() || depth > 40)
            return std::nullopt;
        for (const Ref &child : children.value()) {
            // Applications (depth 0) have no showing state of their own.
            if (depth > 0 && !hasState(child, showing))
                continue;
            if (property(child, QStringLiteral("Name")) == name) {
                const QDBusReply<QString> roleName =
                    call(child, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetRoleName"));
                if (roleName.isValid() && roleName.value() == role)
                    return child;
            }
            if (const std::optional<Ref> found = findBelow(child, name, role, depth + 1))
                return found;
        }
        return std::nullopt;
    }

    QString m_name;
    std::optional<QDBusConnection> m_connection;
    pid_t m_launcher = 0;
};

} // namespace atspi
