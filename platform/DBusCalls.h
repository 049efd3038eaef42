#pragma once

#include <QCoroDBusPendingCall>
#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>

#include <chrono>

// Awaited D-Bus calls: nothing here ever blocks the calling thread.
namespace DBusCalls {

// Sends the call and resolves to its reply, or to an error message (NoReply
// once `timeout` has passed). The connection is copied into the frame, so
// the caller may go away meanwhile.
QCoro::Task<QDBusMessage> call(QDBusConnection bus, QDBusMessage message, std::chrono::milliseconds timeout);

// Whether a name has an owner on the bus right now. A bus that cannot be
// asked counts as "no".
QCoro::Task<bool> nameHasOwner(QDBusConnection bus, QString name, std::chrono::milliseconds timeout);

// Whether the bus would start a service for the name on demand.
QCoro::Task<bool> isActivatable(QDBusConnection bus, QString name, std::chrono::milliseconds timeout);

} // namespace DBusCalls
