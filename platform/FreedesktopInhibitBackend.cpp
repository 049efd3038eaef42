#include "FreedesktopInhibitBackend.h"

#include "DBusCalls.h"
#include "DBusStatus.h"
#include "InhibitServices.h"
#include "InhibitorLists.h"
#include "PowerControlLogging.h"

#include <cerrno>

FreedesktopInhibitBackend::FreedesktopInhibitBackend(
    QDBusConnection sessionBus, std::shared_ptr<BusNameOwners> owners, std::chrono::milliseconds timeout)
    : m_bus(std::move(sessionBus))
    , m_owners(std::move(owners))
    , m_timeout(timeout)
{ }

CookieInhibitor::Service FreedesktopInhibitBackend::serviceFor(AssertionKind kind)
{
    switch (kind) {
    case AssertionKind::systemSleep:
        return { InhibitServices::powerManagementService, InhibitServices::powerManagementPath,
            InhibitServices::powerManagementInterface, InhibitServices::unInhibit };
    case AssertionKind::displaySleep:
        return { InhibitServices::screenSaverService, InhibitServices::screenSaverPath,
            InhibitServices::screenSaverInterface, InhibitServices::unInhibit };
    }
    Q_UNREACHABLE();
}

QCoro::Task<bool> FreedesktopInhibitBackend::isAnswering(AssertionKind kind)
{
    // Only a running desktop counts: these names are sometimes activatable
    // by programs that are not the session's (a screen saver of another
    // desktop), and starting one just to inhibit would be wrong.
    return BusNameOwners::hasOwner(m_owners, serviceFor(kind).name, m_timeout);
}

std::optional<QString> FreedesktopInhibitBackend::holderName(AssertionKind kind) const
{
    return serviceFor(kind).name;
}

QCoro::Task<std::optional<bool>> FreedesktopInhibitBackend::isListed(AssertionKind kind)
{
    const QDBusConnection bus = m_bus;
    const QString reason = assertionName(kind);
    if (const auto plasma = co_await InhibitorLists::readKde(bus)) {
        const bool listed = InhibitorLists::listsOurs(*plasma, reason);
        // Only PowerDevil's own Inhibit is sure to land in its list; a screen
        // locker of another make may keep the display's to itself.
        if (listed || kind == AssertionKind::systemSleep)
            co_return listed;
        co_return std::nullopt;
    }
    if (kind != AssertionKind::systemSleep)
        co_return std::nullopt;
    const auto xfce = co_await InhibitorLists::readXfce(bus);
    if (!xfce)
        co_return std::nullopt;
    co_return InhibitorLists::listsOurs(*xfce);
}

QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> FreedesktopInhibitBackend::inhibit(AssertionKind kind)
{
    const QDBusConnection bus = m_bus;
    const std::chrono::milliseconds timeout = m_timeout;
    const CookieInhibitor::Service service = serviceFor(kind);
    QDBusMessage call
        = QDBusMessage::createMethodCall(service.name, service.path, service.interface, InhibitServices::inhibit);
    call << QString(InhibitServices::who) << assertionName(kind);
    call.setAutoStartService(false);

    // Named rather than a temporary of the co_await expression, which GCC 12 mishandles.
    std::function<void(const QDBusMessage &)> late
        = [bus, service](const QDBusMessage &answer) { CookieInhibitor::giveBackLate(bus, service, answer); };
    const QDBusMessage reply = co_await DBusCalls::callHandingBackLate(bus, call, timeout, std::move(late));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcPowerControl, "%s.Inhibit failed: %s %s", qUtf8Printable(service.interface),
            qUtf8Printable(reply.errorName()), qUtf8Printable(reply.errorMessage()));
        co_return Unexpected(statusForDBusError(reply.errorName()));
    }
    if (reply.signature() != u"u")
        co_return Unexpected(qint32(-EIO));
    co_return std::unique_ptr<Inhibitor>(
        std::make_unique<CookieInhibitor>(bus, service, reply.arguments().value(0).toUInt(), timeout));
}
