#include "PolkitAuthorization.h"

#include <QCoroDBusPendingCall>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>

PolkitAuthorization::PolkitAuthorization(QDBusConnection bus, QString actionId, std::chrono::milliseconds timeout)
    : m_bus(bus)
    , m_actionId(std::move(actionId))
    , m_timeout(timeout)
{ }

QCoro::Task<Expected<void, QString>> PolkitAuthorization::check(QString busName) const
{
    // (sa{sv}): ("system-bus-name", {"name": <busName>})
    QDBusArgument subject;
    subject.beginStructure();
    subject << QStringLiteral("system-bus-name");
    subject.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QDBusVariant>());
    subject.beginMapEntry();
    subject << QStringLiteral("name") << QDBusVariant(busName);
    subject.endMapEntry();
    subject.endMap();
    subject.endStructure();

    QDBusArgument details; // a{ss}, empty
    details.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
    details.endMap();

    constexpr quint32 noUserInteraction = 0;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.PolicyKit1"),
        QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
        QStringLiteral("CheckAuthorization"));
    call << QVariant::fromValue(subject) << m_actionId << QVariant::fromValue(details) << noUserInteraction
         << QString();
    QDBusPendingCall pending = m_bus.asyncCall(call, int(m_timeout.count()));
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ReplyMessage)
        co_return Unexpected(QStringLiteral("polkit did not answer: %1").arg(reply.errorMessage()));
    if (reply.signature() != u"(bba{ss})")
        co_return Unexpected(QStringLiteral("polkit answered (%1)").arg(reply.signature()));

    const QDBusArgument result = reply.arguments().constFirst().value<QDBusArgument>();
    bool authorized = false;
    bool challenge = false;
    result.beginStructure();
    result >> authorized >> challenge;
    result.endStructure();
    if (!authorized)
        co_return Unexpected(QStringLiteral("polkit does not allow %1").arg(m_actionId));
    co_return Expected<void, QString>();
}
