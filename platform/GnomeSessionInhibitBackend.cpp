#include "GnomeSessionInhibitBackend.h"

#include "DBusCalls.h"
#include "DBusStatus.h"
#include "InhibitServices.h"
#include "InhibitorLists.h"
#include "PowerControlLogging.h"

#include <algorithm>
#include <cerrno>

GnomeSessionInhibitBackend::GnomeSessionInhibitBackend(
    QDBusConnection sessionBus, std::shared_ptr<BusNameOwners> owners, std::chrono::milliseconds timeout)
    : m_bus(std::move(sessionBus))
    , m_owners(std::move(owners))
    , m_timeout(timeout)
{ }

QCoro::Task<bool> GnomeSessionInhibitBackend::isAnswering(AssertionKind)
{
    // gnome-session is never started on demand: it is the session.
    return BusNameOwners::hasOwner(m_owners, InhibitServices::gnomeSessionService, m_timeout);
}

std::optional<QString> GnomeSessionInhibitBackend::holderName(AssertionKind) const
{
    return QString(InhibitServices::gnomeSessionService);
}

QCoro::Task<std::optional<bool>> GnomeSessionInhibitBackend::isListed(AssertionKind kind)
{
    const auto listed = co_await InhibitorLists::readGnomeSession(m_bus);
    if (!listed)
        co_return std::nullopt;
    const QString item = kind == AssertionKind::systemSleep ? QStringLiteral("sleep") : QStringLiteral("idle");
    co_return std::any_of(listed->cbegin(), listed->cend(), [&](const DesktopInhibitor &inhibitor) {
        return inhibitor.application == InhibitServices::appID && inhibitor.type.split(u':').contains(item);
    });
}

QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> GnomeSessionInhibitBackend::inhibit(AssertionKind kind)
{
    const QDBusConnection bus = m_bus;
    const std::chrono::milliseconds timeout = m_timeout;
    QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::gnomeSessionService,
        InhibitServices::gnomeSessionPath, InhibitServices::gnomeSessionInterface, InhibitServices::inhibit);
    const uint flags
        = kind == AssertionKind::systemSleep ? InhibitServices::gnomeSuspendFlag : InhibitServices::gnomeIdleFlag;
    // No window of ours stands for the inhibit: toplevel 0.
    call << QString(InhibitServices::appID) << uint(0) << assertionName(kind) << flags;
    call.setAutoStartService(false);
    const CookieInhibitor::Service service{ InhibitServices::gnomeSessionService, InhibitServices::gnomeSessionPath,
        InhibitServices::gnomeSessionInterface, InhibitServices::gnomeUninhibit };

    // Named rather than a temporary of the co_await expression, which GCC 12 mishandles.
    std::function<void(const QDBusMessage &)> late
        = [bus, service](const QDBusMessage &answer) { CookieInhibitor::giveBackLate(bus, service, answer); };
    const QDBusMessage reply = co_await DBusCalls::callHandingBackLate(bus, call, timeout, std::move(late));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcPowerControl, "org.gnome.SessionManager.Inhibit failed: %s %s", qUtf8Printable(reply.errorName()),
            qUtf8Printable(reply.errorMessage()));
        co_return Unexpected(statusForDBusError(reply.errorName()));
    }
    if (reply.signature() != u"u")
        co_return Unexpected(qint32(-EIO));
    co_return std::unique_ptr<Inhibitor>(
        std::make_unique<CookieInhibitor>(bus, service, reply.arguments().value(0).toUInt(), timeout));
}
