#pragma once

#include "DBusInterfaceDescription.h"

#include <QDBusVirtualObject>

// An object on the bus serving one or more interfaces, each described in
// XML. Calls that do not match a description are answered here (or left to
// the bus); accepted ones reach requestArrived() on this object's thread,
// their reply marked as coming later.
class DBusRequestService : public QDBusVirtualObject
{
    Q_OBJECT

public:
    explicit DBusRequestService(const DBusInterfaceDescription &interface, QObject *parent = nullptr);
    // The descriptions outlive the service (they are static).
    explicit DBusRequestService(QList<const DBusInterfaceDescription *> interfaces, QObject *parent = nullptr);

    const DBusInterfaceDescription &interfaceDescription() const { return *m_interfaces.first(); }

    QString introspect(const QString &path) const final;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) final;

protected:
    virtual void requestArrived(const QDBusMessage &message) = 0;

private:
    QList<const DBusInterfaceDescription *> m_interfaces;
};
