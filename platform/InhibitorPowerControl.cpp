#include "InhibitorPowerControl.h"

#include "DBusStatus.h"
#include "InhibitServices.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QLoggingCategory>

#include <array>
#include <cerrno>

Q_LOGGING_CATEGORY(lcInhibitor, "com.quorvel.WakoraApp.PowerControl")

using namespace std::chrono_literals;
using Backend = InhibitorPowerControl::Backend;

static std::array<Backend, 3> chainFor(AssertionKind kind)
{
    switch (kind) {
    case AssertionKind::systemSleep:
        return { Backend::portal, Backend::powerManagement, Backend::logind };
    case AssertionKind::displaySleep:
        return { Backend::portal, Backend::screenSaver, Backend::logind };
    }
    Q_UNREACHABLE();
}

static bool isAnswering(QDBusConnection &bus, const QString &service, bool orActivatable)
{
    if (!bus.isConnected())
        return false;
    QDBusConnectionInterface *daemon = bus.interface();
    if (!daemon)
        return false;
    if (daemon->isServiceRegistered(service).value())
        return true;
    return orActivatable && daemon->activatableServiceNames().value().contains(service);
}

InhibitorPowerControl::InhibitorPowerControl(
    QDBusConnection systemBus, QDBusConnection sessionBus, std::chrono::milliseconds timeout)
    : m_systemBus(std::move(systemBus))
    , m_sessionBus(std::move(sessionBus))
    , m_timeout(timeout)
{ }

QString InhibitorPowerControl::backendName(Backend backend)
{
    switch (backend) {
    case Backend::portal:
        return QStringLiteral("desktop portal");
    case Backend::powerManagement:
        return QStringLiteral("org.freedesktop.PowerManagement");
    case Backend::screenSaver:
        return QStringLiteral("org.freedesktop.ScreenSaver");
    case Backend::logind:
        return QStringLiteral("logind");
    }
    Q_UNREACHABLE();
}

bool InhibitorPowerControl::isReachable(Backend backend)
{
    if (const auto known = m_reachable.constFind(backend); known != m_reachable.cend())
        return known.value();

    bool reachable = false;
    switch (backend) {
    case Backend::portal: {
        // The portal is started on demand, and only serves Inhibit when a
        // desktop backend implements it: asking for the interface's version
        // answers both.
        if (!m_sessionBus.isConnected())
            break;
        QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::portalService, InhibitServices::portalPath,
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << QString(InhibitServices::portalInterface) << QStringLiteral("version");
        const QDBusMessage reply = m_sessionBus.call(call, QDBus::Block, int(m_timeout.count()));
        reachable = reply.type() == QDBusMessage::ReplyMessage;
        break;
    }
    case Backend::powerManagement:
        reachable = isAnswering(m_sessionBus, InhibitServices::powerManagementService, false);
        break;
    case Backend::screenSaver:
        reachable = isAnswering(m_sessionBus, InhibitServices::screenSaverService, false);
        break;
    case Backend::logind:
        reachable = isAnswering(m_systemBus, InhibitServices::logindService, true);
        break;
    }
    if (reachable)
        m_reachable.insert(backend, true);
    return reachable;
}

void InhibitorPowerControl::forget(Backend backend)
{
    m_reachable.remove(backend);
    m_backends.removeIf([backend](auto entry) { return entry.value() == backend; });
}

std::optional<Backend> InhibitorPowerControl::backend(AssertionKind kind)
{
    if (const auto found = m_backends.constFind(kind); found != m_backends.cend())
        return found.value();
    for (const Backend candidate : chainFor(kind)) {
        if (isReachable(candidate)) {
            qCInfo(lcInhibitor, "%s inhibits go to the %s", qUtf8Printable(assertionType(kind)),
                qUtf8Printable(backendName(candidate)));
            m_backends.insert(kind, candidate);
            return candidate;
        }
    }
    qCWarning(lcInhibitor, "No inhibit service is reachable for %s", qUtf8Printable(assertionType(kind)));
    return std::nullopt;
}

static Expected<QDBusMessage, qint32> callChecked(
    QDBusConnection &bus, const QDBusMessage &call, const QString &signature, std::chrono::milliseconds timeout)
{
    const QDBusMessage reply = bus.call(call, QDBus::Block, int(timeout.count()));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcInhibitor, "%s failed: %s %s", qUtf8Printable(call.member()), qUtf8Printable(reply.errorName()),
            qUtf8Printable(reply.errorMessage()));
        return Unexpected(statusForDBusError(reply.errorName()));
    }
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != signature) {
        qCWarning(lcInhibitor, "%s answered an unexpected reply (signature \"%s\")", qUtf8Printable(call.member()),
            qUtf8Printable(reply.signature()));
        return Unexpected(qint32(-EIO));
    }
    return reply;
}

Expected<std::unique_ptr<Inhibitor>, qint32> InhibitorPowerControl::inhibit(Backend backend, AssertionKind kind)
{
    const QString why = assertionName(kind);
    const QString who = InhibitServices::who;
    switch (backend) {
    case Backend::portal: {
        QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::portalService, InhibitServices::portalPath,
            InhibitServices::portalInterface, InhibitServices::inhibit);
        const uint flags
            = kind == AssertionKind::systemSleep ? InhibitServices::portalSuspendFlag : InhibitServices::portalIdleFlag;
        QVariantMap options;
        options.insert(QStringLiteral("reason"), why);
        call << QString() << flags << options;
        auto reply = callChecked(m_sessionBus, call, QStringLiteral("o"), m_timeout);
        if (!reply)
            return Unexpected(reply.error());
        const QString path = reply.value().arguments().value(0).value<QDBusObjectPath>().path();
        return std::unique_ptr<Inhibitor>(std::make_unique<PortalInhibitor>(m_sessionBus, path, m_timeout));
    }
    case Backend::powerManagement:
    case Backend::screenSaver: {
        const bool power = backend == Backend::powerManagement;
        const QString service = power ? InhibitServices::powerManagementService : InhibitServices::screenSaverService;
        const QString path = power ? InhibitServices::powerManagementPath : InhibitServices::screenSaverPath;
        const QString interface = power ? InhibitServices::powerManagementInterface
                                        : InhibitServices::screenSaverInterface;
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, InhibitServices::inhibit);
        call << who << why;
        auto reply = callChecked(m_sessionBus, call, QStringLiteral("u"), m_timeout);
        if (!reply)
            return Unexpected(reply.error());
        const quint32 cookie = reply.value().arguments().value(0).toUInt();
        return std::unique_ptr<Inhibitor>(
            std::make_unique<CookieInhibitor>(m_sessionBus, service, path, interface, cookie, m_timeout));
    }
    case Backend::logind: {
        QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::logindService, InhibitServices::logindPath,
            InhibitServices::logindInterface, InhibitServices::inhibit);
        const QString what = kind == AssertionKind::systemSleep ? QStringLiteral("sleep") : QStringLiteral("idle");
        call << what << who << why << QStringLiteral("block");
        auto reply = callChecked(m_systemBus, call, QStringLiteral("h"), m_timeout);
        if (!reply)
            return Unexpected(reply.error());
        auto fd = reply.value().arguments().value(0).value<QDBusUnixFileDescriptor>();
        if (!fd.isValid())
            return Unexpected(qint32(-EIO));
        return std::unique_ptr<Inhibitor>(std::make_unique<FdInhibitor>(std::move(fd)));
    }
    }
    Q_UNREACHABLE();
}

Expected<quint32, PowerError> InhibitorPowerControl::createAssertion(AssertionKind kind)
{
    if (m_nextID == 0) // every identifier has been handed out once
        return Unexpected(PowerError::assertionCreateFailed(-ENOSPC));
    auto chosen = backend(kind);
    if (!chosen)
        return Unexpected(PowerError::assertionCreateFailed(-ENOENT));
    auto held = inhibit(*chosen, kind);
    if (!held && held.error() == -ENOENT) {
        // The service left the bus since it was found (a desktop shell
        // restarted): look along the chain again, once.
        forget(*chosen);
        chosen = backend(kind);
        if (chosen)
            held = inhibit(*chosen, kind);
    }
    if (!held)
        return Unexpected(PowerError::assertionCreateFailed(held.error()));
    const quint32 id = m_nextID++;
    m_held.emplace(id, std::move(held).value());
    return id;
}

Expected<void, PowerError> InhibitorPowerControl::releaseAssertion(quint32 id)
{
    const auto held = m_held.find(id);
    if (held == m_held.end())
        return {}; // not ours, or already given back: nothing is held under it
    if (const auto released = held->second->release(); !released)
        return Unexpected(PowerError::assertionReleaseFailed(released.error()));
    m_held.erase(held);
    return {};
}
