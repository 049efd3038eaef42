#pragma once

#include "DBusInterfaceDescription.h"

#include <QDBusVirtualObject>

// An object on the bus serving one interface described in XML. Calls that do
// not match the description are answered here (or left to the bus); accepted
// ones reach requestArrived() on this object's thread, their reply marked as
// coming later.
class DBusRequestService : public QDBusVirtualObject
{
    Q_OBJECT

public:
    explicit DBusRequestService(const DBusInterfaceDescription &interface, QObject *parent = nullptr);

    const DBusInterfaceDescription &interfaceDescription() const { return m_interface; }

    QString introspect(const QString &path) const final;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) final;

protected:
    virtual void requestArrived(const QDBusMessage &message) = 0;

private:
    const DBusInterfaceDescription &m_interface;
};
