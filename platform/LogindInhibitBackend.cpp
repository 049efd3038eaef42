#include "LogindInhibitBackend.h"

#include "DBusCalls.h"
#include "DBusStatus.h"
#include "InhibitServices.h"
#include "PowerControlLogging.h"

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

} // namespace

LogindInhibitBackend::LogindInhibitBackend(QDBusConnection systemBus, std::chrono::milliseconds timeout)
    : m_bus(std::move(systemBus))
    , m_timeout(timeout)
{ }

QCoro::Task<bool> LogindInhibitBackend::isAnswering(AssertionKind)
{
    const QDBusConnection bus = m_bus;
    const std::chrono::milliseconds timeout = m_timeout;
    if (co_await DBusCalls::nameHasOwner(bus, InhibitServices::logindService, timeout))
        co_return true;
    co_return co_await DBusCalls::isActivatable(bus, InhibitServices::logindService, timeout);
}

QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> LogindInhibitBackend::inhibit(AssertionKind kind)
{
    const QDBusConnection bus = m_bus;
    const std::chrono::milliseconds timeout = m_timeout;
    const std::shared_ptr<State> state = m_state;

    QString mode = state->weakRefused ? blockMode : weakMode;
    QDBusMessage reply = co_await DBusCalls::call(bus, inhibitCall(kind, mode), timeout);
    if (mode == weakMode && reply.errorName() == u"org.freedesktop.DBus.Error.InvalidArgs") {
        // An older logind that knows only "block": it blocks the user's own
        // suspend too, which is the best it offers.
        qCInfo(lcPowerControl, "logind does not know \"block-weak\"; its locks block every suspend");
        state->weakRefused = true;
        mode = blockMode;
        reply = co_await DBusCalls::call(bus, inhibitCall(kind, mode), timeout);
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
