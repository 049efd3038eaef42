#include "LogindSettings.h"

#include "BusCalls.h"
#include "InhibitServices.h"
#include "LidSwitchSettings.h"

#include <QDBusArgument>

std::optional<LogindSettings> LogindSettings::read(QDBusConnection &systemBus, QString &error)
{
    const QDBusMessage reply = BusCalls::call(systemBus, InhibitServices::logindService, InhibitServices::logindPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"),
        { QString(InhibitServices::logindInterface) });
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != u"a{sv}") {
        error = QStringLiteral("cannot read logind's settings: %1 %2").arg(reply.errorName(), reply.errorMessage());
        return std::nullopt;
    }
    QVariantMap properties;
    reply.arguments().constFirst().value<QDBusArgument>() >> properties;

    LogindSettings settings;
    settings.sleepDisabled = LidSwitchSettings::fromProperties(properties).sleepDisabled();

    const QVariant action = properties.value(QStringLiteral("IdleAction"));
    const QVariant delay = properties.value(QStringLiteral("IdleActionUSec"));
    if (action.isValid() && delay.isValid()) {
        static const QStringList sleepingActions = { QStringLiteral("suspend"), QStringLiteral("hibernate"),
            QStringLiteral("hybrid-sleep"), QStringLiteral("suspend-then-hibernate") };
        const qint64 seconds = qint64((delay.toULongLong() + 999999) / 1000000);
        settings.idle.sleepMinutes
            = sleepingActions.contains(action.toString()) ? IdleSettings::minutesRoundedUp(seconds) : 0;
    }
    return settings;
}

std::optional<bool> LogindSettings::canSuspend(QDBusConnection &systemBus)
{
    const QDBusMessage reply = BusCalls::call(systemBus, InhibitServices::logindService, InhibitServices::logindPath,
        InhibitServices::logindInterface, QStringLiteral("CanSuspend"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QString answer = reply.arguments().constFirst().toString();
    return answer == u"yes" || answer == u"challenge";
}
