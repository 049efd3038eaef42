#pragma once

// A tray for the test: a mock of the StatusNotifierWatcher that desktops run
// (KDE Plasma, GNOME's AppIndicator extension) on the session bus. A Qt
// program on a real display then shows its tray icon as a StatusNotifierItem
// and exports the icon's menu over com.canonical.dbusmenu, which the test
// reads as the panel would.
//
//     TrayMenu tray;
//     if (const QString why = tray.start(buses); !why.isEmpty()) ...
//     // start the program on an X display
//     tray.toggleState(QStringLiteral("잠자기 방지")) == 1

#include "PrivateBus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>

#include <optional>

class TrayMenu
{
public:
    struct Entry {
        int id = 0;
        QVariantMap properties;
        QList<Entry> children;
    };

    QString start(MockBuses &buses)
    {
        m_buses = &buses;
        QString error;
        const QString interface = QStringLiteral("org.kde.StatusNotifierWatcher");
        m_watcher = buses.startObject(
            MockBuses::session, interface, QStringLiteral("/StatusNotifierWatcher"), interface, &error);
        if (!m_watcher)
            return error;
        const bool ok = m_watcher->addProperty(interface, QStringLiteral("IsStatusNotifierHostRegistered"), true)
            && m_watcher->addProperty(interface, QStringLiteral("ProtocolVersion"), 0)
            && m_watcher->addProperty(interface, QStringLiteral("RegisteredStatusNotifierItems"), QStringList())
            && m_watcher->addMethod(
                interface, QStringLiteral("RegisterStatusNotifierItem"), QStringLiteral("s"), QString(), QString())
            && m_watcher->addMethod(
                interface, QStringLiteral("RegisterStatusNotifierHost"), QStringLiteral("s"), QString(), QString());
        return ok ? QString() : QStringLiteral("cannot build the StatusNotifierWatcher mock");
    }

    // The bus names of the items registered so far, oldest first.
    QStringList items()
    {
        QStringList names;
        for (const QVariantList &call : m_watcher->callsOf(QStringLiteral("RegisterStatusNotifierItem")))
            names.append(call.value(0).toString());
        return names;
    }

    // The whole menu of the newest item; nullopt while there is none.
    std::optional<Entry> layout()
    {
        const QStringList registered = items();
        if (registered.isEmpty())
            return std::nullopt;
        QDBusMessage get = QDBusMessage::createMethodCall(registered.last(), QStringLiteral("/MenuBar"),
            QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
        get << 0 << -1 << QStringList();
        const QDBusMessage reply = m_buses->bus(MockBuses::session).connection().call(get, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
            return std::nullopt;
        return readEntry(reply.arguments().at(1).value<QDBusArgument>());
    }

    // The "toggle-state" of the entry with this label (1 checked, 0 not);
    // nullopt when there is no such entry or it is not checkable.
    std::optional<int> toggleState(const QString &label)
    {
        const std::optional<Entry> root = layout();
        if (!root)
            return std::nullopt;
        const Entry *entry = findLabel(*root, label);
        if (!entry || !entry->properties.contains(QStringLiteral("toggle-state")))
            return std::nullopt;
        return entry->properties.value(QStringLiteral("toggle-state")).toInt();
    }

    // Clicks the entry with this label, as the panel does; false when there is none.
    bool click(const QString &label)
    {
        const std::optional<Entry> root = layout();
        const Entry *entry = root ? findLabel(*root, label) : nullptr;
        if (!entry)
            return false;
        QDBusMessage event = QDBusMessage::createMethodCall(items().last(), QStringLiteral("/MenuBar"),
            QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
        event << entry->id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
        return m_buses->bus(MockBuses::session).connection().call(event, QDBus::Block, 5000).type()
            == QDBusMessage::ReplyMessage;
    }

    // Whether an entry with this label is there and shown.
    bool shows(const QString &label)
    {
        const std::optional<Entry> root = layout();
        const Entry *entry = root ? findLabel(*root, label) : nullptr;
        return entry && entry->properties.value(QStringLiteral("visible"), true).toBool();
    }

    static const Entry *findLabel(const Entry &entry, const QString &label)
    {
        if (entry.properties.value(QStringLiteral("label")).toString() == label)
            return &entry;
        for (const Entry &child : entry.children)
            if (const Entry *found = findLabel(child, label))
                return found;
        return nullptr;
    }

private:
    static Entry readEntry(const QDBusArgument &argument)
    {
        Entry entry;
        argument.beginStructure();
        argument >> entry.id;
        argument.beginMap();
        while (!argument.atEnd()) {
            QString key;
            QDBusVariant value;
            argument.beginMapEntry();
            argument >> key >> value;
            argument.endMapEntry();
            entry.properties.insert(key, value.variant());
        }
        argument.endMap();
        argument.beginArray();
        while (!argument.atEnd()) {
            QDBusVariant child;
            argument >> child;
            entry.children.append(readEntry(child.variant().value<QDBusArgument>()));
        }
        argument.endArray();
        argument.endStructure();
        return entry;
    }

    MockBuses *m_buses = nullptr;
    DBusMock *m_watcher = nullptr;
};
