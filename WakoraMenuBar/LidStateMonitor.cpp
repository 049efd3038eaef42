#include "LidStateMonitor.h"

#include <QCoroDBusPendingCall>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QPointer>

Q_LOGGING_CATEGORY(lcLid, "com.quorvel.WakoraApp.LidState")

namespace {

const QString service = QStringLiteral("org.freedesktop.login1");
const QString path = QStringLiteral("/org/freedesktop/login1");
const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
// logind sends no PropertiesChanged for LidClosed and Docked (its
// introspection marks neither as emitting changes); UPower, which watches
// the same lid switch, does for its LidIsClosed.
const QString upower = QStringLiteral("org.freedesktop.UPower");
const QString upowerPath = QStringLiteral("/org/freedesktop/UPower");

} // namespace

LidStateMonitor::LidStateMonitor(QDBusConnection systemBus, QObject *parent)
    : QObject(parent)
    , m_bus(systemBus)
    , m_watcher(service, systemBus, QDBusServiceWatcher::WatchForOwnerChange)
{
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &LidStateMonitor::propertiesChanged);
    m_bus.connect(
        service, path, propertiesInterface, QStringLiteral("PropertiesChanged"), this, SLOT(propertiesChanged()));
    m_bus.connect(
        upower, upowerPath, propertiesInterface, QStringLiteral("PropertiesChanged"), this, SLOT(propertiesChanged()));
    read();
}

void LidStateMonitor::propertiesChanged()
{
    // The signal may carry the values or only name them as invalidated: read both either way.
    read();
}

QCoro::Task<> LidStateMonitor::read()
{
    // One read at a time; a change heard meanwhile is read once more after it.
    if (m_reading) {
        m_readAgain = true;
        co_return;
    }
    QPointer<LidStateMonitor> self(this);
    m_reading = true;
    do {
        m_readAgain = false;
        const QDBusConnection bus = m_bus;
        QDBusMessage call
            = QDBusMessage::createMethodCall(service, path, propertiesInterface, QStringLiteral("GetAll"));
        call << manager;
        QDBusPendingCall asking = bus.asyncCall(call, 5000);
        const QDBusMessage reply = co_await asking;
        if (!self)
            co_return;
        bool closed = false;
        bool docked = false;
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
            closed = properties.value(QStringLiteral("LidClosed")).toBool();
            docked = properties.value(QStringLiteral("Docked")).toBool();
        } else {
            qCDebug(lcLid, "logind does not say where the lid is: %s", qUtf8Printable(reply.errorMessage()));
        }
        const bool differs = closed != m_lidClosed || docked != m_docked;
        m_lidClosed = closed;
        m_docked = docked;
        if (differs) {
            qCInfo(lcLid, "Lid %s, %s", closed ? "closed" : "open", docked ? "docked" : "not docked");
            Q_EMIT changed();
        }
        if (!self)
            co_return;
    } while (m_readAgain);
    m_reading = false;
}
