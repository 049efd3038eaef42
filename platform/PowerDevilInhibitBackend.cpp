#include "PowerDevilInhibitBackend.h"

#include "DBusCalls.h"
#include "DBusStatus.h"
#include "InhibitServices.h"
#include "InhibitorLists.h"
#include "PowerControlLogging.h"

#include <cerrno>

PowerDevilInhibitBackend::PowerDevilInhibitBackend(
    QDBusConnection sessionBus, std::shared_ptr<BusNameOwners> owners, std::chrono::milliseconds timeout)
    : m_bus(std::move(sessionBus))
    , m_owners(std::move(owners))
    , m_timeout(timeout)
{ }

CookieInhibitor::Service PowerDevilInhibitBackend::service()
{
    return { InhibitServices::policyAgentService, InhibitServices::policyAgentPath,
        InhibitServices::policyAgentInterface, InhibitServices::releaseInhibition };
}

QCoro::Task<bool> PowerDevilInhibitBackend::isAnswering(AssertionKind kind)
{
    if (kind != AssertionKind::displaySleep)
        co_return false;
    // PowerDevil is the session's: never started on demand.
    co_return co_await BusNameOwners::hasOwner(m_owners, InhibitServices::policyAgentService, m_timeout);
}

std::optional<QString> PowerDevilInhibitBackend::holderName(AssertionKind) const
{
    return QString(InhibitServices::policyAgentService);
}

QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> PowerDevilInhibitBackend::inhibit(AssertionKind kind)
{
    if (kind != AssertionKind::displaySleep)
        co_return Unexpected(qint32(-EIO));
    const QDBusConnection bus = m_bus;
    const std::chrono::milliseconds timeout = m_timeout;
    const CookieInhibitor::Service held = service();
    QDBusMessage call
        = QDBusMessage::createMethodCall(held.name, held.path, held.interface, InhibitServices::addInhibition);
    call << uint(InhibitServices::policyChangeScreenSettings) << QString(InhibitServices::who) << assertionName(kind);
    call.setAutoStartService(false);

    // Named rather than a temporary of the co_await expression, which GCC 12 mishandles.
    std::function<void(const QDBusMessage &)> late
        = [bus, held](const QDBusMessage &answer) { CookieInhibitor::giveBackLate(bus, held, answer); };
    const QDBusMessage reply = co_await DBusCalls::callHandingBackLate(bus, call, timeout, std::move(late));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcPowerControl, "PolicyAgent.AddInhibition failed: %s %s", qUtf8Printable(reply.errorName()),
            qUtf8Printable(reply.errorMessage()));
        co_return Unexpected(statusForDBusError(reply.errorName()));
    }
    if (reply.signature() != u"u")
        co_return Unexpected(qint32(-EIO));
    co_return std::unique_ptr<Inhibitor>(
        std::make_unique<CookieInhibitor>(bus, held, reply.arguments().value(0).toUInt(), timeout));
}

QCoro::Task<std::optional<bool>> PowerDevilInhibitBackend::isListed(AssertionKind kind)
{
    const QString reason = assertionName(kind);
    const auto listed = co_await InhibitorLists::readKde(m_bus);
    if (!listed)
        co_return std::nullopt;
    co_return InhibitorLists::listsOurs(*listed, reason);
}
