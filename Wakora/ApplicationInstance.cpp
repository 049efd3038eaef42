#include "ApplicationInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLoggingCategory>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcInstance, "com.quorvel.WakoraApp.Instance")

ApplicationInstance::ApplicationInstance(QDBusConnection bus, std::function<void()> onPresent, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_onPresent(std::move(onPresent))
{ }

ApplicationInstance::~ApplicationInstance()
{
    if (m_owns) {
        m_bus.unregisterObject(QLatin1String(objectPath));
        m_bus.unregisterService(QLatin1String(serviceName));
    }
}

ApplicationInstance::Claim ApplicationInstance::claim()
{
    if (!m_bus.isConnected() || !m_bus.interface())
        return Claim::unavailable;
    // Register the object first, so that nobody who sees the name finds it missing.
    if (!m_bus.registerObject(QLatin1String(objectPath), this, QDBusConnection::ExportScriptableSlots))
        return Claim::unavailable;
    // Synchronous, before the window exists: the bus daemon answers at once.
    const auto reply = m_bus.interface()->registerService(QLatin1String(serviceName),
        QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_owns = true;
        return Claim::claimed;
    }
    m_bus.unregisterObject(QLatin1String(objectPath));

    QDBusMessage present = QDBusMessage::createMethodCall(QLatin1String(serviceName), QLatin1String(objectPath),
        QLatin1String("com.quorvel.WakoraApp.Application"), QStringLiteral("Present"));
    // Before this program shows anything, and bounded: the other instance is
    // asked to come forward, and this one then exits.
    const QDBusMessage answer = m_bus.call(present, QDBus::Block, 5000);
    if (answer.type() == QDBusMessage::ReplyMessage)
        return Claim::presentedOther;
    qCWarning(lcInstance, "Another Wakora owns the application's name but did not answer: %s",
        qUtf8Printable(answer.errorMessage()));
    return Claim::unavailable;
}

void ApplicationInstance::Present()
{
    // Only our own user's launches may bring the window forward.
    if (calledFromDBus()) {
        const auto uid = m_bus.interface()->serviceUid(message().service());
        if (!uid.isValid() || uid.value() != ::getuid()) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Not the owner of this session"));
            return;
        }
    }
    if (m_onPresent)
        m_onPresent();
}
