#pragma once

#include <QCoroDBusPendingCall>
#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>

#include <chrono>
#include <functional>
#include <optional>

// Awaited D-Bus calls: nothing here ever blocks the calling thread.
namespace DBusCalls {

// Sends the call and resolves to its reply, or to an error message (NoReply
// once `timeout` has passed). The connection is copied into the frame, so
// the caller may go away meanwhile.
QCoro::Task<QDBusMessage> call(QDBusConnection bus, QDBusMessage message, std::chrono::milliseconds timeout);

// Like call(), for a call whose answer grants something that must be given
// back (an inhibit's cookie, request or descriptor). After `timeout` it
// resolves to a NoReply error, but the call stays followed: an answer that
// still comes goes to `late`, so what was granted after we stopped waiting
// is not held for nobody. The bus answers for a service that leaves.
QCoro::Task<QDBusMessage> callHandingBackLate(QDBusConnection bus, QDBusMessage message,
    std::chrono::milliseconds timeout, std::function<void(const QDBusMessage &)> late);

// Whether a name has an owner on the bus right now; nothing when the bus
// cannot be asked.
QCoro::Task<std::optional<bool>> nameHasOwner(QDBusConnection bus, QString name, std::chrono::milliseconds timeout);

// Whether the bus would start a service for the name on demand.
QCoro::Task<bool> isActivatable(QDBusConnection bus, QString name, std::chrono::milliseconds timeout);

} // namespace DBusCalls
