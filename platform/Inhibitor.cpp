#include "Inhibitor.h"

#include "DBusCalls.h"
#include "DBusStatus.h"
#include "InhibitServices.h"
#include "PortalRequest.h"
#include "PowerControlLogging.h"

#include <QDBusMessage>

// A service that has left the bus took its inhibits with it: there is
// nothing left to refuse the release, so it counts as done.
static bool serviceIsGone(const QDBusMessage &reply)
{
    return reply.errorName() == u"org.freedesktop.DBus.Error.ServiceUnknown"
        || reply.errorName() == u"org.freedesktop.DBus.Error.NameHasNoOwner";
}

// Likewise a portal request object that no longer exists (the portal
// restarted, or ended the inhibit itself): every request object has Close,
// so not finding it means the request is gone.
static bool requestIsGone(const QDBusMessage &reply)
{
    return serviceIsGone(reply) || reply.errorName() == u"org.freedesktop.DBus.Error.UnknownObject"
        || reply.errorName() == u"org.freedesktop.DBus.Error.UnknownMethod";
}

static Expected<void, qint32> outcome(const QDBusMessage &reply, bool (*isGone)(const QDBusMessage &))
{
    if (reply.type() == QDBusMessage::ErrorMessage && !isGone(reply))
        return Unexpected(statusForDBusError(reply.errorName()));
    return {};
}

FdInhibitor::FdInhibitor(QDBusUnixFileDescriptor fd)
    : m_fd(std::move(fd))
{ }

QCoro::Task<Expected<void, qint32>> FdInhibitor::release()
{
    // The descriptor is shared implicitly; dropping the last copy closes it,
    // and logind lifts the lock once its end of the pipe sees that.
    m_fd = QDBusUnixFileDescriptor();
    co_return {};
}

void FdInhibitor::forget()
{
    m_fd = QDBusUnixFileDescriptor();
}

CookieInhibitor::CookieInhibitor(
    QDBusConnection connection, Service service, quint32 cookie, std::chrono::milliseconds timeout)
    : m_connection(std::move(connection))
    , m_service(std::move(service))
    , m_cookie(cookie)
    , m_timeout(timeout)
{ }

CookieInhibitor::~CookieInhibitor()
{
    if (m_held)
        m_connection.send(releaseCall());
}

void CookieInhibitor::giveBackLate(const QDBusConnection &connection, const Service &service, const QDBusMessage &late)
{
    if (late.type() != QDBusMessage::ReplyMessage || late.signature() != u"u")
        return;
    qCWarning(
        lcPowerControl, "%s granted an inhibit after we stopped waiting; giving it back", qUtf8Printable(service.name));
    const CookieInhibitor unwanted(
        connection, service, late.arguments().value(0).toUInt(), std::chrono::milliseconds(0));
}

QDBusMessage CookieInhibitor::releaseCall() const
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(m_service.name, m_service.path, m_service.interface, m_service.releaseMethod);
    call << m_cookie;
    // A restarted desktop service would not know the cookie; never start one just to be told so.
    call.setAutoStartService(false);
    return call;
}

QCoro::Task<Expected<void, qint32>> CookieInhibitor::release()
{
    if (!m_held)
        co_return {};
    // The handle lives as long as its owner's map entry, which the owner
    // keeps until this answer is in; the call itself needs nothing of it.
    const QDBusMessage reply = co_await DBusCalls::call(m_connection, releaseCall(), m_timeout);
    auto result = outcome(reply, serviceIsGone);
    if (result)
        m_held = false;
    co_return result;
}

PortalInhibitor::PortalInhibitor(
    QDBusConnection connection, std::unique_ptr<PortalRequest> request, std::chrono::milliseconds timeout)
    : m_connection(std::move(connection))
    , m_request(std::move(request))
    , m_timeout(timeout)
{ }

PortalInhibitor::~PortalInhibitor()
{
    if (m_held)
        m_connection.send(closeCall(m_request->path()));
}

QDBusMessage PortalInhibitor::closeCall(const QString &requestPath)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        InhibitServices::portalService, requestPath, InhibitServices::portalRequestInterface, InhibitServices::close);
    call.setAutoStartService(false);
    return call;
}

QCoro::Task<Expected<void, qint32>> PortalInhibitor::release()
{
    if (!m_held)
        co_return {};
    const QDBusMessage reply = co_await DBusCalls::call(m_connection, closeCall(m_request->path()), m_timeout);
    auto result = outcome(reply, requestIsGone);
    if (result)
        m_held = false;
    co_return result;
}
