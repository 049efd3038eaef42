#include "DBusRequestService.h"

DBusRequestService::DBusRequestService(const DBusInterfaceDescription &interface, QObject *parent)
    : QDBusVirtualObject(parent)
    , m_interface(interface)
{ }

QString DBusRequestService::introspect(const QString &) const
{
    return m_interface.introspection();
}

bool DBusRequestService::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    switch (m_interface.screen(message, connection)) {
    case DBusInterfaceDescription::Screening::notOurs:
        return false;
    case DBusInterfaceDescription::Screening::refused:
        return true;
    case DBusInterfaceDescription::Screening::accepted:
        break;
    }
    // The bus may hand us the message on its own thread; all state lives on ours.
    QMetaObject::invokeMethod(
        this, [this, message] { requestArrived(message); }, Qt::QueuedConnection);
    return true;
}
