#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariant>

#include <optional>

// Blocking D-Bus calls with a bound, for a command that reads and exits:
// no service it asks may keep it waiting for more than a few seconds.
namespace BusCalls {

constexpr int timeoutMs = 5000;

QDBusMessage call(QDBusConnection &bus, const QString &service, const QString &path, const QString &interface,
    const QString &method, const QVariantList &arguments = {});

// One property, unwrapped; absent when the call fails, with the error's name given.
std::optional<QVariant> property(QDBusConnection &bus, const QString &service, const QString &path,
    const QString &interface, const QString &name, QString *errorName = nullptr);

} // namespace BusCalls
