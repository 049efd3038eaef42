#include "DBusRequestService.h"

DBusRequestService::DBusRequestService(const DBusInterfaceDescription &interface, QObject *parent)
    : DBusRequestService(QList<const DBusInterfaceDescription *>{ &interface }, parent)
{ }

DBusRequestService::DBusRequestService(QList<const DBusInterfaceDescription *> interfaces, QObject *parent)
    : QDBusVirtualObject(parent)
    , m_interfaces(std::move(interfaces))
{
    Q_ASSERT(!m_interfaces.isEmpty());
}

QString DBusRequestService::introspect(const QString &) const
{
    QString xml;
    for (const DBusInterfaceDescription *interface : m_interfaces)
        xml += interface->introspection();
    return xml;
}

bool DBusRequestService::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    // The interfaces' method names differ, so a call without an interface
    // name still finds its one description.
    for (const DBusInterfaceDescription *interface : m_interfaces) {
        switch (interface->screen(message, connection)) {
        case DBusInterfaceDescription::Screening::notOurs:
            continue;
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
    return false;
}
