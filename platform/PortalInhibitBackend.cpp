#include "PortalInhibitBackend.h"

#include "DBusCalls.h"
#include "DBusStatus.h"
#include "InhibitServices.h"
#include "PortalRequest.h"
#include "PowerControlLogging.h"

#include <QCoroSignal>
#include <QDBusObjectPath>

#include <cerrno>

PortalInhibitBackend::PortalInhibitBackend(
    QDBusConnection sessionBus, std::chrono::milliseconds timeout, std::chrono::milliseconds responseTimeout)
    : m_bus(std::move(sessionBus))
    , m_timeout(timeout)
    , m_responseTimeout(responseTimeout)
{ }

QCoro::Task<bool> PortalInhibitBackend::isAnswering(AssertionKind)
{
    // The portal is started on demand, and serves Inhibit only when a
    // desktop backend implements it: asking for the interface's version
    // answers both.
    QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::portalService, InhibitServices::portalPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QString(InhibitServices::portalInterface) << QStringLiteral("version");
    const QDBusMessage reply = co_await DBusCalls::call(m_bus, call, m_timeout);
    co_return reply.type() == QDBusMessage::ReplyMessage;
}

std::optional<QString> PortalInhibitBackend::holderName(AssertionKind) const
{
    return QString(InhibitServices::portalService);
}

QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> PortalInhibitBackend::inhibit(AssertionKind kind)
{
    const QDBusConnection bus = m_bus;
    const std::chrono::milliseconds timeout = m_timeout;
    const std::chrono::milliseconds responseTimeout = m_responseTimeout;
    const QString token = QStringLiteral("wakora%1").arg(++*m_tokens);

    // Followed before the call, so that no Response can slip past.
    auto request = std::make_unique<PortalRequest>(bus, token);
    QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::portalService, InhibitServices::portalPath,
        InhibitServices::portalInterface, InhibitServices::inhibit);
    const uint flags
        = kind == AssertionKind::systemSleep ? InhibitServices::portalSuspendFlag : InhibitServices::portalIdleFlag;
    QVariantMap options;
    options.insert(QStringLiteral("reason"), assertionName(kind));
    options.insert(QStringLiteral("handle_token"), token);
    call << QString() << flags << options;

    const QDBusMessage reply = co_await DBusCalls::call(bus, call, timeout);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcPowerControl, "portal Inhibit failed: %s %s", qUtf8Printable(reply.errorName()),
            qUtf8Printable(reply.errorMessage()));
        co_return Unexpected(statusForDBusError(reply.errorName()));
    }
    if (reply.signature() != u"o")
        co_return Unexpected(qint32(-EIO));
    request->follow(reply.arguments().value(0).value<QDBusObjectPath>().path());

    if (!request->response())
        co_await qCoro(request.get(), &PortalRequest::answered, responseTimeout);
    const std::optional<uint> response = request->response();
    if (!response) {
        qCWarning(lcPowerControl, "The portal did not answer the inhibit within %lld ms",
            static_cast<long long>(responseTimeout.count()));
        // Whatever it decides later must not hold the machine for nobody.
        QDBusMessage close = QDBusMessage::createMethodCall(InhibitServices::portalService, request->path(),
            InhibitServices::portalRequestInterface, InhibitServices::close);
        close.setAutoStartService(false);
        QDBusConnection(bus).send(close);
        co_return Unexpected(qint32(-ETIMEDOUT));
    }
    if (*response != 0) {
        qCWarning(lcPowerControl, "The portal's desktop backend refused the inhibit (response %u)", *response);
        co_return Unexpected(qint32(*response == 1 ? -ECANCELED : -EIO));
    }
    co_return std::unique_ptr<Inhibitor>(std::make_unique<PortalInhibitor>(bus, std::move(request), timeout));
}
