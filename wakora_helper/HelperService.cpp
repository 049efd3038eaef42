#include "HelperService.h"

#include <algorithm>

#include "ClamshellService.h"
#include "PeerProcess.h"

#include <QCoroDBusPendingCall>
#include <QCoroFuture>
#include <QCoroTimer>
#include <QDBusConnectionInterface>
#include <QPointer>

#include <syslog.h>

namespace {

const DBusInterfaceDescription &helperInterface()
{
    static const auto description = DBusInterfaceDescription::load(
        QStringLiteral(":/interfaces/com.quorvel.WakoraApp.helper.xml"), ClamshellService::interfaceName());
    return description;
}

QDBusMessage modeReply(const QDBusMessage &request, const Expected<ClamshellMode, QString> &result)
{
    const qint64 mode = result ? rawValue(result.value()) : 0;
    const QStringList failure = result ? QStringList{} : QStringList{ result.error() };
    return request.createReply(QVariantList{ QVariant::fromValue(qlonglong(mode)), QVariant::fromValue(failure) });
}

} // namespace

void helperLog(int priority, const QString &text)
{
    ::syslog(priority, "wakora-helper: %s", text.toUtf8().constData());
}

HelperService::HelperService(
    QDBusConnection bus, std::shared_ptr<ClamshellPolicy> policy, Options options, QObject *parent)
    : DBusRequestService(helperInterface(), parent)
    , m_bus(bus)
    , m_policy(std::move(policy))
    , m_options(std::move(options))
    , m_authorization(bus, PolkitAuthorization::helperAction(), m_options.authorizationTimeout)
    , m_watcher(QString(), bus, QDBusServiceWatcher::WatchForUnregistration)
{
    m_workThread.setObjectName(QStringLiteral("policy"));
    m_workContext = new QObject;
    m_workContext->moveToThread(&m_workThread);
    connect(&m_workThread, &QThread::finished, m_workContext, &QObject::deleteLater);
    m_workThread.start();
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString &name) {
        enqueue(Job{ QDBusMessage(), name });
    });
}

HelperService::~HelperService()
{
    m_workThread.quit();
    m_workThread.wait();
}

Expected<void, QString> HelperService::registerOnBus()
{
    if (!m_bus.registerVirtualObject(ClamshellService::objectPath(), this))
        return Unexpected(
            QStringLiteral("cannot export %1: %2").arg(ClamshellService::objectPath(), m_bus.lastError().message()));
    // Synchronous, at start before any request is served: the bus daemon
    // answers this itself.
    const auto registered = m_bus.interface()->registerService(ClamshellService::machServiceName(),
        QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!registered.isValid() || registered.value() != QDBusConnectionInterface::ServiceRegistered)
        return Unexpected(
            QStringLiteral("cannot own %1: %2").arg(ClamshellService::machServiceName(), registered.error().message()));
    return {};
}

void HelperService::requestArrived(const QDBusMessage &message)
{
    if (m_ending) {
        m_bus.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("the helper is ending")));
        return;
    }
    const QString caller = message.service();
    int &pending = m_pending[caller];
    if (pending >= maxQueuedPerCaller) {
        // A flood from one caller never grows the queue, nor delays a restore.
        m_bus.send(message.createErrorReply(QDBusError::LimitsExceeded,
            QStringLiteral("too many requests from %1 at once; wait for the answers").arg(caller)));
        return;
    }
    ++pending;
    // Watching from arrival on means a caller's leaving is always seen; a
    // name gone before that fails the peer check.
    if (!m_watcher.watchedServices().contains(caller))
        m_watcher.addWatchedService(caller);
    admitThenQueue(message);
}

QCoro::Task<> HelperService::admitThenQueue(QDBusMessage message)
{
    QPointer<HelperService> self(this);
    QDBusConnection bus = m_bus;
    const QString sender = message.service();
    const auto admitted = co_await admit(sender);
    if (!self) {
        bus.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("the helper is ending")));
        co_return;
    }
    if (!admitted) {
        helperLog(
            LOG_WARNING, QStringLiteral("refused %1 from %2: %3").arg(message.member(), sender, admitted.error()));
        bus.send(message.createErrorReply(QDBusError::AccessDenied, peerRefusal(sender, admitted.error())));
        settled(sender);
        co_return;
    }
    enqueue(Job{ message, QString() });
}

void HelperService::settled(const QString &caller)
{
    const auto pending = m_pending.find(caller);
    if (pending == m_pending.end())
        return;
    if (--pending.value() > 0)
        return;
    m_pending.erase(pending);
    if (!m_clients.isClient(caller))
        m_watcher.removeWatchedService(caller);
}

void HelperService::enqueue(Job job)
{
    const bool isRequest = job.request.type() == QDBusMessage::MethodCallMessage;
    if (m_ending) {
        // The last restore is under way: nothing may come after it.
        if (isRequest) {
            m_bus.send(job.request.createErrorReply(QDBusError::Failed, QStringLiteral("the helper is ending")));
            settled(job.request.service());
        }
        return;
    }
    if (isRequest) {
        m_jobs.push_back(std::move(job));
    } else {
        // A restore goes ahead of every waiting request, behind earlier restores.
        const auto firstRequest = std::find_if(m_jobs.begin(), m_jobs.end(),
            [](const Job &queued) { return queued.request.type() == QDBusMessage::MethodCallMessage; });
        m_jobs.insert(firstRequest, std::move(job));
    }
    drain();
}

QCoro::Task<> HelperService::drain()
{
    if (m_draining)
        co_return;
    m_draining = true;
    QPointer<HelperService> self(this);
    while (self && !self->m_jobs.empty()) {
        Job job = std::move(self->m_jobs.front());
        self->m_jobs.pop_front();
        if (job.request.type() == QDBusMessage::MethodCallMessage)
            co_await self->serve(job.request);
        else
            co_await self->clientLeft(job.leaver);
    }
    if (self)
        self->m_draining = false;
}

QCoro::Task<Expected<void, QString>> HelperService::admit(QString sender)
{
    QPointer<HelperService> self(this);
    const QDBusConnection bus = m_bus;
    const QStringList programs = m_options.admittedPrograms;

    const auto authorized = co_await m_authorization.check(sender);
    if (!self)
        co_return Unexpected(QStringLiteral("the helper is ending"));
    if (!authorized)
        co_return Unexpected(authorized.error());

    const auto peer = co_await identifyPeer(bus, sender);
    if (!peer)
        co_return Unexpected(peer.error());
    if (!peer.value().runs(programs))
        co_return Unexpected(QStringLiteral("%1 is not the agent").arg(peer.value().executable));
    co_return Expected<void, QString>();
}

QCoro::Task<> HelperService::serve(QDBusMessage message)
{
    QPointer<HelperService> self(this);
    QDBusConnection bus = m_bus;
    const QString sender = message.service();
    const QString member = message.member();

    // Admitted before it was queued.
    const bool newClient = !m_clients.isClient(sender);
    m_clients.admit(sender);

    Expected<ClamshellMode, QString> result = Unexpected(QStringLiteral("unknown request"));
    if (member == u"Enable") {
        result = co_await onWorkThread([](ClamshellPolicy &policy) { return policy.enable(); });
        if (self && result && result.value() == ClamshellMode::owned)
            self->m_clients.takeOwnership(sender);
    } else if (member == u"Disable") {
        result = co_await onWorkThread([](ClamshellPolicy &policy) -> Expected<ClamshellMode, QString> {
            if (const auto restored = policy.restore(); !restored)
                return Unexpected(restored.error());
            return policy.status();
        });
    } else if (member == u"Status") {
        result = co_await onWorkThread([](ClamshellPolicy &policy) { return policy.status(); });
    }
    if (!result)
        helperLog(LOG_ERR, QStringLiteral("%1 failed: %2").arg(member.toLower(), result.error()));
    // Every request is answered exactly once, even while the helper ends.
    bus.send(modeReply(message, result));
    if (self)
        self->settled(sender);

    // The watch on a new client starts with its first request; had it left
    // before the bus heard of the watch, no signal would say so. Ask once.
    if (!newClient)
        co_return;
    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("NameHasOwner"));
    ask << sender;
    QDBusPendingCall asking = bus.asyncCall(ask);
    const QDBusMessage present = co_await asking;
    if (self && present.type() == QDBusMessage::ReplyMessage && !present.arguments().value(0).toBool())
        self->enqueue(Job{ QDBusMessage(), sender });
}

QCoro::Task<> HelperService::clientLeft(QString name)
{
    m_watcher.removeWatchedService(name);
    if (!m_clients.leave(name))
        co_return;
    co_await restore(QStringLiteral("%1 left the bus").arg(name));
}

QCoro::Task<Expected<void, QString>> HelperService::restore(QString why)
{
    const auto restored = co_await onWorkThread([](ClamshellPolicy &policy) { return policy.restore(); });
    if (!restored)
        helperLog(LOG_ERR, QStringLiteral("restore failed: %1 (%2)").arg(restored.error(), why));
    co_return restored;
}

QCoro::Task<> HelperService::restoreAtStart()
{
    // Requests that arrive meanwhile are queued behind it.
    QPointer<HelperService> self(this);
    m_draining = true;
    co_await restore(QStringLiteral("at start"));
    if (!self)
        co_return;
    m_draining = false;
    drain();
}

QCoro::Task<> HelperService::restoreAtExit()
{
    // Wait for the request in hand, if any: policy operations never overlap.
    QPointer<HelperService> self(this);
    m_ending = true;
    for (const Job &job : std::exchange(m_jobs, {})) {
        if (job.request.type() == QDBusMessage::MethodCallMessage)
            m_bus.send(job.request.createErrorReply(QDBusError::Failed, QStringLiteral("the helper is ending")));
    }
    m_pending.clear();
    while (self && self->m_draining)
        co_await QCoro::sleepFor(std::chrono::milliseconds(20));
    if (self)
        co_await self->restore(QStringLiteral("at exit"));
}
