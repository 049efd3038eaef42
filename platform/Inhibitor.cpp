#include "Inhibitor.h"

#include "DBusStatus.h"
#include "InhibitServices.h"

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

Expected<void, qint32> FdInhibitor::release()
{
    // The descriptor is shared implicitly; dropping the last copy closes it,
    // and logind lifts the lock once its end of the pipe sees that.
    m_fd = QDBusUnixFileDescriptor();
    return {};
}

CookieInhibitor::CookieInhibitor(QDBusConnection connection, QString service, QString path, QString interface,
    quint32 cookie, std::chrono::milliseconds timeout)
    : m_connection(std::move(connection))
    , m_service(std::move(service))
    , m_path(std::move(path))
    , m_interface(std::move(interface))
    , m_cookie(cookie)
    , m_timeout(timeout)
{ }

CookieInhibitor::~CookieInhibitor()
{
    if (!m_held)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, m_path, m_interface, InhibitServices::unInhibit);
    call << m_cookie;
    call.setAutoStartService(false);
    m_connection.send(call);
}

Expected<void, qint32> CookieInhibitor::release()
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, m_path, m_interface, InhibitServices::unInhibit);
    call << m_cookie;
    // A restarted desktop service would not know the cookie; never start one just to be told so.
    call.setAutoStartService(false);
    const QDBusMessage reply = m_connection.call(call, QDBus::Block, int(m_timeout.count()));
    auto result = outcome(reply, serviceIsGone);
    if (result)
        m_held = false;
    return result;
}

PortalInhibitor::PortalInhibitor(QDBusConnection connection, QString requestPath, std::chrono::milliseconds timeout)
    : m_connection(std::move(connection))
    , m_requestPath(std::move(requestPath))
    , m_timeout(timeout)
{ }

PortalInhibitor::~PortalInhibitor()
{
    if (!m_held)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        InhibitServices::portalService, m_requestPath, InhibitServices::portalRequestInterface, InhibitServices::close);
    call.setAutoStartService(false);
    m_connection.send(call);
}

Expected<void, qint32> PortalInhibitor::release()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        InhibitServices::portalService, m_requestPath, InhibitServices::portalRequestInterface, InhibitServices::close);
    call.setAutoStartService(false);
    const QDBusMessage reply = m_connection.call(call, QDBus::Block, int(m_timeout.count()));
    auto result = outcome(reply, requestIsGone);
    if (result)
        m_held = false;
    return result;
}
