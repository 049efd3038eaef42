#include "DBusCalls.h"

#include <QCoroSignal>
#include <QDBusPendingCallWatcher>
#include <QStringList>

#include <limits>

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

QCoro::Task<QDBusMessage> callHandingBackLate(QDBusConnection bus, QDBusMessage message,
    std::chrono::milliseconds timeout, std::function<void(const QDBusMessage &)> late)
{
    if (!bus.isConnected())
        co_return message.createErrorReply(QDBusError::Disconnected, QStringLiteral("not connected to the bus"));
    // No limit of the bus's own: the watcher outlives our wait until the
    // answer comes, or the bus answers for a service that left.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, std::numeric_limits<int>::max()));
    const auto finished = co_await qCoro(watcher, &QDBusPendingCallWatcher::finished, timeout);
    if (finished) {
        // Resumed from inside the watcher's own signal: it goes once that is over.
        watcher->deleteLater();
        co_return watcher->reply();
    }
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [late = std::move(late)](QDBusPendingCallWatcher *call) {
            late(call->reply());
            call->deleteLater();
        });
    co_return message.createErrorReply(QDBusError::NoReply,
        QStringLiteral("%1.%2 did not answer within %3 ms")
            .arg(message.interface(), message.member())
            .arg(timeout.count()));
}

QCoro::Task<std::optional<bool>> nameHasOwner(QDBusConnection bus, QString name, std::chrono::milliseconds timeout)
{
    QDBusMessage message
        = QDBusMessage::createMethodCall(busService, busPath, busInterface, QStringLiteral("NameHasOwner"));
    message << name;
    const QDBusMessage reply = co_await call(bus, message, timeout);
    if (reply.type() != QDBusMessage::ReplyMessage)
        co_return std::nullopt;
    co_return reply.arguments().value(0).toBool();
}

QCoro::Task<bool> isActivatable(QDBusConnection bus, QString name, std::chrono::milliseconds timeout)
{
    const QDBusMessage message
        = QDBusMessage::createMethodCall(busService, busPath, busInterface, QStringLiteral("ListActivatableNames"));
    const QDBusMessage reply = co_await call(bus, message, timeout);
    co_return reply.type() == QDBusMessage::ReplyMessage &&reply.arguments().value(0).toStringList().contains(name);
}

} // namespace DBusCalls
