#include "XfconfReader.h"

#include "BusCalls.h"
#include "XfceIdleSettings.h"

#include <QDBusArgument>
#include <QDBusVariant>

namespace XfconfReader {

IdleSettings read(QDBusConnection &sessionBus, bool onBattery)
{
    // One call for the whole channel; xfconfd merges the system-wide defaults
    // and locks in, and holds changes it has not written to its file yet.
    const QDBusMessage reply = BusCalls::call(sessionBus, QStringLiteral("org.xfce.Xfconf"),
        QStringLiteral("/org/xfce/Xfconf"), QStringLiteral("org.xfce.Xfconf"), QStringLiteral("GetAllProperties"),
        { XfceIdleSettings::channel, QStringLiteral("/xfce4-power-manager") });
    QMap<QString, QVariant> set;
    if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == u"a{sv}") {
        QVariantMap properties;
        reply.arguments().constFirst().value<QDBusArgument>() >> properties;
        for (auto property = properties.cbegin(); property != properties.cend(); ++property) {
            const QVariant value
                = property->canConvert<QDBusVariant>() ? property->value<QDBusVariant>().variant() : *property;
            set.insert(property.key(), value);
        }
    } else if (reply.errorName() != u"org.xfce.Xfconf.Error.ChannelNotFound"
        && reply.errorName() != u"org.xfce.Xfconf.Error.PropertyNotFound") {
        // No channel yet means every default; no answer means nothing known.
        return {};
    }
    return XfceIdleSettings::fromProperties(set, onBattery);
}

} // namespace XfconfReader
