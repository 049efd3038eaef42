#include "BusCalls.h"

#include <QDBusVariant>

namespace BusCalls {

QDBusMessage call(QDBusConnection &bus, const QString &service, const QString &path, const QString &interface,
    const QString &method, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return bus.call(message, QDBus::Block, timeoutMs);
}

std::optional<QVariant> property(QDBusConnection &bus, const QString &service, const QString &path,
    const QString &interface, const QString &name, QString *errorName)
{
    const QDBusMessage reply = call(bus, service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"), { interface, name });
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (errorName)
            *errorName = reply.errorName();
        return std::nullopt;
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

} // namespace BusCalls
