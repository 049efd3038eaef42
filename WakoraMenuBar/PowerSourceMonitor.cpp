#include "PowerSourceMonitor.h"

#include <QCoroDBusPendingCall>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QPointer>

namespace {

const QString service = QStringLiteral("org.freedesktop.UPower");
const QString managerPath = QStringLiteral("/org/freedesktop/UPower");
const QString displayDevicePath = QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

QDBusMessage propertyCall(const QString &path, const QString &interface, const QString &name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, propertiesInterface, QStringLiteral("Get"));
    call << interface << name;
    // UPower is activatable on most systems; where it is not installed the call fails at once.
    return call;
}

QVariant valueOf(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return QVariant();
    return reply.arguments().first().value<QDBusVariant>().variant();
}

} // namespace

PowerSourceMonitor::PowerSourceMonitor(QDBusConnection systemBus, QObject *parent)
    : QObject(parent)
    , m_bus(systemBus)
    , m_watcher(service, systemBus, QDBusServiceWatcher::WatchForOwnerChange)
{
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &PowerSourceMonitor::propertiesChanged);
    for (const QString &path : { managerPath, displayDevicePath })
        m_bus.connect(
            service, path, propertiesInterface, QStringLiteral("PropertiesChanged"), this, SLOT(propertiesChanged()));
    read();
}

void PowerSourceMonitor::propertiesChanged()
{
    read();
}

QCoro::Task<> PowerSourceMonitor::read()
{
    // One read at a time; a change heard meanwhile is read once more after it.
    if (m_reading) {
        m_readAgain = true;
        co_return;
    }
    QPointer<PowerSourceMonitor> self(this);
    m_reading = true;
    do {
        m_readAgain = false;
        const QDBusConnection bus = m_bus;
        QDBusPendingCall askingBattery
            = bus.asyncCall(propertyCall(managerPath, service, QStringLiteral("OnBattery")), 5000);
        const QDBusMessage onBattery = co_await askingBattery;
        if (!self)
            co_return;
        QDBusPendingCall askingLevel
            = bus.asyncCall(propertyCall(displayDevicePath, QStringLiteral("org.freedesktop.UPower.Device"),
                                QStringLiteral("Percentage")),
                5000);
        const QDBusMessage percentage = co_await askingLevel;
        if (!self)
            co_return;

        SessionRules::PowerSource source;
        source.onBattery = valueOf(onBattery).toBool();
        const QVariant level = valueOf(percentage);
        if (level.isValid())
            source.percentage = level.toDouble();
        const bool differs = source.onBattery != m_source.onBattery || source.percentage != m_source.percentage;
        m_source = source;
        if (differs)
            Q_EMIT changed();
        if (!self)
            co_return;
    } while (m_readAgain);
    m_reading = false;
}
