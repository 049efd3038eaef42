#include "PortalInhibitBackend.h"

#include "DBusCalls.h"
#include "DBusStatus.h"
#include "InhibitServices.h"
#include "PortalRequest.h"
#include "PowerControlLogging.h"

#include <QCoroSignal>
#include <QDBusObjectPath>

#include <cerrno>

PortalInhibitBackend::PortalInhibitBackend(QDBusConnection sessionBus, std::shared_ptr<BusNameOwners> owners,
    std::chrono::milliseconds timeout, std::chrono::milliseconds responseTimeout)
    : m_bus(std::move(sessionBus))
    , m_owners(std::move(owners))
    , m_timeout(timeout)
    , m_responseTimeout(responseTimeout)
{ }

QCoro::Task<bool> PortalInhibitBackend::isAnswering(AssertionKind)
{
    // The portal is started on demand, and serves Inhibit only when a
    // desktop backend implements it: asking for the interface's version
    // answers both. The answer holds until the portal's owner changes.
    const std::shared_ptr<BusNameOwners> owners = m_owners;
    const std::shared_ptr<Serving> serving = m_serving;
    owners->follow(InhibitServices::portalService);
    if (serving->answer && serving->ownerChanges == owners->changes(InhibitServices::portalService))
        co_return *serving->answer;
    QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::portalService, InhibitServices::portalPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QString(InhibitServices::portalInterface) << QStringLiteral("version");
    const QDBusMessage reply = co_await DBusCalls::call(m_bus, call, m_timeout);
    const bool serves = reply.type() == QDBusMessage::ReplyMessage;
    // A portal that did not answer in time may answer the next time.
    if (serves || statusForDBusError(reply.errorName()) != -ETIMEDOUT) {
        // Counted after the answer: starting the portal on demand is itself a change.
        serving->answer = serves;
        serving->ownerChanges = owners->changes(InhibitServices::portalService);
    }
    co_return serves;
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

    // Named rather than a temporary of the co_await expression, which GCC 12 mishandles.
    std::function<void(const QDBusMessage &)> late = [bus](const QDBusMessage &answer) {
        if (answer.type() != QDBusMessage::ReplyMessage || answer.signature() != u"o")
            return;
        qCWarning(lcPowerControl, "The portal took an inhibit after we stopped waiting; closing it");
        QDBusConnection(bus).send(
            PortalInhibitor::closeCall(answer.arguments().value(0).value<QDBusObjectPath>().path()));
    };
    const QDBusMessage reply = co_await DBusCalls::callHandingBackLate(bus, call, timeout, std::move(late));
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
        QDBusConnection(bus).send(PortalInhibitor::closeCall(request->path()));
        co_return Unexpected(qint32(-ETIMEDOUT));
    }
    if (*response != 0) {
        qCWarning(lcPowerControl, "The portal's desktop backend refused the inhibit (response %u)", *response);
        co_return Unexpected(qint32(*response == 1 ? -ECANCELED : -EIO));
    }
    co_return std::unique_ptr<Inhibitor>(std::make_unique<PortalInhibitor>(bus, std::move(request), timeout));
}
