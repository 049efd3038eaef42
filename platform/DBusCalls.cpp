#include "DBusCalls.h"

#include <QStringList>

namespace DBusCalls {

namespace {

const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
const QString busInterface = QStringLiteral("org.freedesktop.DBus");

} // namespace

QCoro::Task<QDBusMessage> call(QDBusConnection bus, QDBusMessage message, std::chrono::milliseconds timeout)
{
    if (!bus.isConnected())
        co_return message.createErrorReply(QDBusError::Disconnected, QStringLiteral("not connected to the bus"));
    const QDBusPendingCall pending = bus.asyncCall(message, int(timeout.count()));
    co_return co_await pending;
}

QCoro::Task<bool> nameHasOwner(QDBusConnection bus, QString name, std::chrono::milliseconds timeout)
{
    QDBusMessage message
        = QDBusMessage::createMethodCall(busService, busPath, busInterface, QStringLiteral("NameHasOwner"));
    message << name;
    const QDBusMessage reply = co_await call(bus, message, timeout);
    co_return reply.type() == QDBusMessage::ReplyMessage &&reply.arguments().value(0).toBool();
}

QCoro::Task<bool> isActivatable(QDBusConnection bus, QString name, std::chrono::milliseconds timeout)
{
    const QDBusMessage message
        = QDBusMessage::createMethodCall(busService, busPath, busInterface, QStringLiteral("ListActivatableNames"));
    const QDBusMessage reply = co_await call(bus, message, timeout);
    co_return reply.type() == QDBusMessage::ReplyMessage &&reply.arguments().value(0).toStringList().contains(name);
}

} // namespace DBusCalls
