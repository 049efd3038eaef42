#include "HelperService.h"

#include <algorithm>

#include "ClamshellService.h"
#include "PeerProcess.h"

#include <QCoroDBusPendingCall>
#include <QCoroFuture>
#include <QCoroTimer>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

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

QDBusMessage busCall(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(arguments);
    return call;
}

// The hand-over record, only if it is a regular file of ours (never through
// a link); it is read once and removed whatever it says.
QByteArray takeHandover(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    const int fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray contents;
    struct stat status = {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid()
        && (status.st_mode & 077) == 0 && status.st_size < 512) {
        contents.resize(qsizetype(status.st_size));
        if (::read(fd, contents.data(), size_t(contents.size())) != ssize_t(contents.size()))
            contents.clear();
    }
    ::close(fd);
    ::unlink(file.constData());
    return contents;
}

bool writeHandover(const QString &path, const QByteArray &contents)
{
    // The folder is made as wakora-pmset makes it, and checked likewise.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
    ::mkdir(folder.constData(), 0755);
    struct stat status = {};
    if (::lstat(folder.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()
        || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return false;
    QSaveFile record(path);
    if (!record.open(QIODevice::WriteOnly))
        return false;
    record.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return record.write(contents) == contents.size() && record.commit();
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
    m_retryDelay = m_options.firstRetry;
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] { enqueue(Job{}); });
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(m_options.idleExit);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (isIdle())
            Q_EMIT idle();
    });
    // libdbus tells a connection that the bus has gone away with this local
    // signal; it never travels over the bus itself.
    m_bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
        QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this, SLOT(busDisconnected()));
}

void HelperService::busDisconnected()
{
    helperLog(LOG_ERR, QStringLiteral("lost the system bus"));
    Q_EMIT busLost();
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
    enqueue(Job{ message, QString(), admitted.value() });
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
    checkIdle();
}

void HelperService::enqueue(Job job)
{
    const bool isRequest = job.request.type() == QDBusMessage::MethodCallMessage;
    m_idleTimer.stop();
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
            co_await self->serve(job.request, job.uid);
        else if (!job.leaver.isEmpty())
            co_await self->clientLeft(job.leaver);
        else if (self->m_restorePending && !self->m_ending)
            co_await self->restore(QStringLiteral("tried again"));
    }
    if (!self)
        co_return;
    self->m_draining = false;
    self->checkIdle();
}

bool HelperService::isIdle() const
{
    return !m_ending && !m_draining && m_jobs.empty() && m_pending.isEmpty() && m_clients.count() == 0
        && !m_restorePending && !m_policy->owns();
}

void HelperService::checkIdle()
{
    if (!isIdle())
        m_idleTimer.stop();
    else if (!m_idleTimer.isActive())
        m_idleTimer.start();
}

void HelperService::scheduleRetry()
{
    if (m_ending || m_retryTimer.isActive())
        return;
    helperLog(LOG_INFO, QStringLiteral("trying again in %1 ms").arg(m_retryDelay.count()));
    m_retryTimer.start(m_retryDelay);
    m_retryDelay = std::min(m_retryDelay * 2, m_options.longestRetry);
}

QCoro::Task<Expected<uid_t, QString>> HelperService::admit(QString sender)
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
    co_return peer.value().uid;
}

QCoro::Task<> HelperService::serve(QDBusMessage message, uid_t uid)
{
    QPointer<HelperService> self(this);
    QDBusConnection bus = m_bus;
    const QString sender = message.service();
    const QString member = message.member();

    // Admitted before it was queued.
    const bool newClient = !m_clients.isClient(sender);
    m_clients.admit(sender, uid);

    Expected<ClamshellMode, QString> result = Unexpected(QStringLiteral("unknown request"));
    if (m_clients.ownedByAnotherUser(uid)) {
        // Another user's mode: theirs to end, and not ours to call "ours".
        if (member == u"Status")
            result = ClamshellMode::system;
        else
            result = Unexpected(ownedByAnotherUser());
    } else if (member == u"Enable") {
        // A restore still owed goes first: the marker alone would read as
        // "on" while the drop-in is already gone.
        if (m_restorePending) {
            if (const auto restored = co_await restore(QStringLiteral("before enabling")); !restored)
                result = Unexpected(stillGivingBack(restored.error()));
        }
        if (self && !self->m_restorePending) {
            result = co_await onWorkThread([](ClamshellPolicy &policy) { return policy.enable(); });
            if (self && result && result.value() == ClamshellMode::owned)
                self->m_clients.takeOwnership(sender);
        }
    } else if (member == u"Disable") {
        const auto restored = co_await restore(QStringLiteral("disabled by %1").arg(sender));
        if (!restored)
            result = Unexpected(restored.error());
        else
            result = co_await onWorkThread([](ClamshellPolicy &policy) { return policy.status(); });
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
    QPointer<HelperService> self(this);
    const auto restored = co_await onWorkThread([](ClamshellPolicy &policy) { return policy.restore(); });
    if (!self)
        co_return restored;
    if (restored) {
        m_restorePending = false;
        m_retryTimer.stop();
        m_retryDelay = m_options.firstRetry;
        m_clients.release();
        co_return restored;
    }
    // The marker stays (the policy removes it only once the setting is
    // back), and nobody owns the mode any more: try again until it is back.
    helperLog(LOG_ERR, QStringLiteral("restore failed: %1 (%2)").arg(restored.error(), why));
    m_restorePending = true;
    m_clients.release();
    scheduleRetry();
    co_return restored;
}

QCoro::Task<bool> HelperService::adoptHandedOverOwner()
{
    if (m_options.handoverPath.isEmpty())
        co_return false;
    const QList<QByteArray> record = takeHandover(m_options.handoverPath).trimmed().split(' ');
    if (record.size() != 3 || !m_policy->owns())
        co_return false;
    const QString busId = QString::fromLatin1(record.at(0));
    const QString name = QString::fromLatin1(record.at(1));
    bool numeric = false;
    const uid_t uid = record.at(2).toUInt(&numeric);
    if (!numeric)
        co_return false;

    QPointer<HelperService> self(this);
    QDBusConnection bus = m_bus;
    // Unique names start again on a new bus: the record must be of this one.
    QDBusPendingCall askingId = bus.asyncCall(busCall(QStringLiteral("GetId")));
    const QDBusMessage id = co_await askingId;
    if (!self || id.type() != QDBusMessage::ReplyMessage || id.arguments().value(0).toString() != busId)
        co_return false;
    // Watched first, so its leaving from here on is heard.
    m_watcher.addWatchedService(name);
    QDBusPendingCall askingUser = bus.asyncCall(busCall(QStringLiteral("GetConnectionUnixUser"), { name }));
    const QDBusMessage user = co_await askingUser;
    if (!self)
        co_return false;
    if (user.type() != QDBusMessage::ReplyMessage || user.arguments().value(0).toUInt() != uid) {
        m_watcher.removeWatchedService(name);
        co_return false;
    }
    m_clients.admit(name, uid);
    m_clients.takeOwnership(name);
    helperLog(LOG_INFO, QStringLiteral("took over the lid-closed mode of %1 (uid %2)").arg(name).arg(uid));
    co_return true;
}

QCoro::Task<> HelperService::restoreAtStart()
{
    // Requests that arrive meanwhile are queued behind it.
    QPointer<HelperService> self(this);
    m_draining = true;
    const bool adopted = co_await adoptHandedOverOwner();
    if (!self)
        co_return;
    if (!adopted)
        co_await restore(QStringLiteral("at start"));
    if (!self)
        co_return;
    m_draining = false;
    drain();
}

void HelperService::stopServing()
{
    m_ending = true;
    m_idleTimer.stop();
    m_retryTimer.stop();
    for (const Job &job : std::exchange(m_jobs, {})) {
        if (job.request.type() == QDBusMessage::MethodCallMessage)
            m_bus.send(job.request.createErrorReply(QDBusError::Failed, QStringLiteral("the helper is ending")));
    }
    m_pending.clear();
}

QCoro::Task<> HelperService::stopAndWait()
{
    // Wait for the request in hand, if any: policy operations never overlap.
    QPointer<HelperService> self(this);
    stopServing();
    while (self && self->m_draining)
        co_await QCoro::sleepFor(std::chrono::milliseconds(20));
}

QCoro::Task<bool> HelperService::restoreAtExit(std::chrono::milliseconds patience)
{
    QPointer<HelperService> self(this);
    co_await stopAndWait();
    const QDeadlineTimer deadline(patience);
    auto pause = m_options.firstRetry;
    for (;;) {
        if (!self)
            co_return false;
        const auto restored = co_await self->restore(QStringLiteral("at exit"));
        if (restored)
            co_return true;
        if (!self || deadline.hasExpired())
            co_return false;
        co_await QCoro::sleepFor(
            std::min(pause, std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0))));
        pause = std::min(pause * 2, m_options.longestRetry);
    }
}

QCoro::Task<> HelperService::handOver()
{
    QPointer<HelperService> self(this);
    co_await stopAndWait();
    if (!self)
        co_return;
    const auto owner = m_clients.owner();
    if (owner && !m_restorePending && m_policy->owns() && !m_options.handoverPath.isEmpty()) {
        QDBusPendingCall askingId = m_bus.asyncCall(busCall(QStringLiteral("GetId")));
        const QDBusMessage id = co_await askingId;
        if (!self)
            co_return;
        const QByteArray record = id.arguments().value(0).toString().toLatin1() + ' ' + owner->name.toLatin1() + ' '
            + QByteArray::number(owner->uid) + '\n';
        if (id.type() == QDBusMessage::ReplyMessage && writeHandover(m_options.handoverPath, record)) {
            helperLog(LOG_INFO, QStringLiteral("handing the lid-closed mode of %1 over").arg(owner->name));
            co_return;
        }
        helperLog(LOG_ERR, QStringLiteral("cannot hand over to the next helper; giving the setting back"));
    }
    co_await restore(QStringLiteral("at exit, nothing to hand over"));
}
