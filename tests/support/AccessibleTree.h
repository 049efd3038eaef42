#pragma once

// Reads and drives a running Qt program through its accessibility tree, as a
// screen reader does: over AT-SPI on an accessibility bus of the test's own.
// The program finds that bus through "org.a11y.Bus" on its session bus, which
// a mock provides here, with accessibility switched on.
//
//     AccessibilityBus accessibility;
//     if (const QString why = accessibility.start(buses); !why.isEmpty()) ...
//     // start the program on an X display with buses.environment()
//     const QString application = accessibility.applicationOf(pid);
//     const auto sleepSwitch = accessibility.find(application, "잠자기 방지", "check box");
//     accessibility.doAction(*sleepSwitch, "Toggle");

#include "PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

#include <optional>

struct AccessibleNode {
    QString service;
    QString path;
    QString name;
    QString role; // AT-SPI's role name: "check box", "push button", "label"...
    quint64 states = 0;

    // AT-SPI state numbers (AtspiStateType).
    enum State { checked = 4, enabled = 8, sensitive = 24, showing = 25, visible = 30 };
    bool has(State state) const { return states & (quint64(1) << int(state)); }
};

class AccessibilityBus
{
public:
    static QString accessiblePath() { return QStringLiteral("/org/a11y/atspi/accessible/root"); }

    // The accessibility bus and the session bus's "org.a11y.Bus" that names
    // it; empty on success.
    QString start(MockBuses &buses)
    {
        QString error;
        if (!m_bus.start(buses.directory(), &error))
            return error;
        DBusMock *launcher = buses.startObject(MockBuses::session, QStringLiteral("org.a11y.Bus"),
            QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"), &error);
        if (!launcher)
            return error;
        const bool ok = launcher->addMethod(QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"), QString(),
                            QStringLiteral("s"), QStringLiteral("ret = '%1'").arg(m_bus.address()))
            && launcher->addProperty(QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"), true)
            && launcher->addProperty(QStringLiteral("org.a11y.Status"), QStringLiteral("ScreenReaderEnabled"), false);
        return ok ? QString() : QStringLiteral("cannot build the org.a11y.Bus mock");
    }

    QDBusConnection connection() { return m_bus.connection(); }

    // The unique name under which the process `pid` serves its accessibility
    // tree; empty while it serves none.
    QString applicationOf(qint64 pid)
    {
        const QStringList names = connection().interface()->registeredServiceNames().value();
        for (const QString &name : names) {
            if (!name.startsWith(u':') || connection().interface()->servicePid(name).value() != pid)
                continue;
            if (call(name, accessiblePath(), QStringLiteral("GetChildren"), {}).type() == QDBusMessage::ReplyMessage)
                return name;
        }
        return QString();
    }

    // Every node of the application's tree, depth first.
    QList<AccessibleNode> nodes(const QString &application, QString *error = nullptr)
    {
        QList<AccessibleNode> found;
        QList<QString> pending{ accessiblePath() };
        while (!pending.isEmpty()) {
            const QString path = pending.takeFirst();
            std::optional<AccessibleNode> node = read(application, path);
            if (!node) {
                if (error)
                    *error = QStringLiteral("cannot read %1").arg(path);
                continue; // a node may go away while the tree is walked
            }
            found.append(*node);
            const QDBusMessage reply = call(application, path, QStringLiteral("GetChildren"), {});
            if (reply.type() != QDBusMessage::ReplyMessage)
                continue;
            const QDBusArgument children = reply.arguments().value(0).value<QDBusArgument>();
            QList<QString> paths;
            children.beginArray();
            while (!children.atEnd()) {
                QString service;
                QDBusObjectPath child;
                children.beginStructure();
                children >> service >> child;
                children.endStructure();
                paths.append(child.path());
            }
            children.endArray();
            pending = paths + pending;
        }
        return found;
    }

    std::optional<AccessibleNode> find(const QString &application, const QString &name, const QString &role)
    {
        for (const AccessibleNode &node : nodes(application))
            if (node.name == name && node.role == role)
                return node;
        return std::nullopt;
    }

    // The node as it is now.
    std::optional<AccessibleNode> read(const QString &application, const QString &path)
    {
        QDBusMessage get = QDBusMessage::createMethodCall(
            application, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.a11y.atspi.Accessible") << QStringLiteral("Name");
        const QDBusMessage name = connection().call(get, QDBus::Block, 5000);
        const QDBusMessage role = call(application, path, QStringLiteral("GetRoleName"), {});
        const QDBusMessage state = call(application, path, QStringLiteral("GetState"), {});
        if (name.type() != QDBusMessage::ReplyMessage || role.type() != QDBusMessage::ReplyMessage
            || state.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        AccessibleNode node;
        node.service = application;
        node.path = path;
        node.name = name.arguments().value(0).value<QDBusVariant>().variant().toString();
        node.role = role.arguments().value(0).toString();
        const QList<uint> words = qdbus_cast<QList<uint>>(state.arguments().value(0));
        node.states = quint64(words.value(0)) | (quint64(words.value(1)) << 32);
        return node;
    }

    // Carries out the named action ("Toggle", "Press") of the node.
    bool doAction(const AccessibleNode &node, const QString &action, QString *error)
    {
        const QDBusMessage actions
            = connection().call(QDBusMessage::createMethodCall(node.service, node.path,
                                    QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("GetActions")),
                QDBus::Block, 5000);
        if (actions.type() != QDBusMessage::ReplyMessage) {
            *error = actions.errorMessage();
            return false;
        }
        const QDBusArgument list = actions.arguments().value(0).value<QDBusArgument>();
        QStringList names;
        list.beginArray();
        while (!list.atEnd()) {
            QString actionName, description, keys;
            list.beginStructure();
            list >> actionName >> description >> keys;
            list.endStructure();
            names.append(actionName);
        }
        list.endArray();
        const qsizetype index = names.indexOf(action);
        if (index < 0) {
            *error = QStringLiteral("%1 has no action %2, only %3").arg(node.name, action, names.join(u", "));
            return false;
        }
        QDBusMessage doIt = QDBusMessage::createMethodCall(
            node.service, node.path, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("DoAction"));
        doIt << int(index);
        const QDBusMessage reply = connection().call(doIt, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || !reply.arguments().value(0).toBool()) {
            *error = QStringLiteral("%1 refused %2: %3").arg(node.name, action, reply.errorMessage());
            return false;
        }
        return true;
    }

private:
    QDBusMessage call(const QString &service, const QString &path, const QString &method, const QVariantList &arguments)
    {
        QDBusMessage message
            = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.a11y.atspi.Accessible"), method);
        message.setArguments(arguments);
        return connection().call(message, QDBus::Block, 5000);
    }

    PrivateBus m_bus{ QStringLiteral("a11y") };
};
