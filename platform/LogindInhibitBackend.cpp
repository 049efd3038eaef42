#include "LogindInhibitBackend.h"

#include "DBusCalls.h"
#include "DBusStatus.h"
#include "InhibitServices.h"
#include "InhibitorLists.h"
#include "PowerControlLogging.h"

#include <algorithm>
#include <cerrno>

namespace {

const QString weakMode = QStringLiteral("block-weak");
const QString blockMode = QStringLiteral("block");

QDBusMessage inhibitCall(AssertionKind kind, const QString &mode)
{
    QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::logindService, InhibitServices::logindPath,
        InhibitServices::logindInterface, InhibitServices::inhibit);
    const QString what = kind == AssertionKind::systemSleep ? QStringLiteral("sleep") : QStringLiteral("idle");
    call << what << QString(InhibitServices::who) << assertionName(kind) << mode;
    return call;
}

// A lock granted after we stopped waiting is given back by closing its
// descriptor, which the late answer's going does.
void dropLate(const QDBusMessage &late)
{
    if (late.type() == QDBusMessage::ReplyMessage)
        qCWarning(lcPowerControl, "logind granted a lock after we stopped waiting; giving it back");
}

} // namespace

LogindInhibitBackend::LogindInhibitBackend(
    QDBusConnection systemBus, std::shared_ptr<BusNameOwners> owners, std::chrono::milliseconds timeout)
    : m_bus(std::move(systemBus))
    , m_owners(std::move(owners))
    , m_timeout(timeout)
{ }

QCoro::Task<bool> LogindInhibitBackend::isAnswering(AssertionKind)
{
    const QDBusConnection bus = m_bus;
    const std::chrono::milliseconds timeout = m_timeout;
    // Nothing stands behind logind: a "no" is asked again each time rather
    // than kept, so that a logind that has just started is never missed.
    if (m_owners->known(InhibitServices::logindService).value_or(false))
        co_return true;
    if (co_await BusNameOwners::askOwner(m_owners, InhibitServices::logindService, timeout))
        co_return true;
    // Not running: the bus may start it on demand (rare enough not to keep).
    co_return co_await DBusCalls::isActivatable(bus, InhibitServices::logindService, timeout);
}

std::optional<QString> LogindInhibitBackend::serviceName(AssertionKind) const
{
    return QString(InhibitServices::logindService);
}

QCoro::Task<std::optional<bool>> LogindInhibitBackend::isListed(AssertionKind kind)
{
    const QString reason = assertionName(kind);
    const QString item = kind == AssertionKind::systemSleep ? QStringLiteral("sleep") : QStringLiteral("idle");
    const auto answer = co_await InhibitorLists::readLogind(m_bus);
    if (!answer.answered)
        co_return std::nullopt;
    // Our name and the kind's reason single the lock out.
    co_return std::any_of(answer.inhibitors.cbegin(), answer.inhibitors.cend(), [&](const LogindInhibitor &lock) {
        return lock.who == InhibitServices::who && lock.why == reason && lock.what.split(u':').contains(item);
    });
}

QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> LogindInhibitBackend::inhibit(AssertionKind kind)
{
    const QDBusConnection bus = m_bus;
    const std::chrono::milliseconds timeout = m_timeout;
    const std::shared_ptr<State> state = m_state;

    QString mode = state->weakRefused ? blockMode : weakMode;
    const std::function<void(const QDBusMessage &)> late = dropLate;
    QDBusMessage reply = co_await DBusCalls::callHandingBackLate(bus, inhibitCall(kind, mode), timeout, late);
    if (mode == weakMode && reply.errorName() == u"org.freedesktop.DBus.Error.InvalidArgs") {
        // An older logind that knows only "block": it blocks the user's own
        // suspend too, which is the best it offers.
        qCInfo(lcPowerControl, "logind does not know \"block-weak\"; its locks block every suspend");
        state->weakRefused = true;
        mode = blockMode;
        reply = co_await DBusCalls::callHandingBackLate(bus, inhibitCall(kind, mode), timeout, late);
    }
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcPowerControl, "logind Inhibit failed: %s %s", qUtf8Printable(reply.errorName()),
            qUtf8Printable(reply.errorMessage()));
        co_return Unexpected(statusForDBusError(reply.errorName()));
    }
    if (reply.signature() != u"h")
        co_return Unexpected(qint32(-EIO));
    auto fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (!fd.isValid())
        co_return Unexpected(qint32(-EIO));
    state->mode = mode;
    co_return std::unique_ptr<Inhibitor>(std::make_unique<FdInhibitor>(std::move(fd)));
}
