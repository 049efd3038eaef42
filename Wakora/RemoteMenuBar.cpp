#include "RemoteMenuBar.h"

#include "AgentProcesses.h"
#include "DBusInterfaceDescription.h"
#include "MenuBarService.h"
#include "OffMainThread.h"
#include "PeerProcess.h"
#include "ReplyOnce.h"

#include <QCoreApplication>
#include <QCoroDBusPendingCall>
#include <QCoroTimer>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVirtualObject>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>

#include <csignal>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRemote, "com.quorvel.WakoraApp.RemoteMenuBar", QtInfoMsg)

QString RemoteError::notResponding()
{
    return QCoreApplication::translate("Wakora", "메뉴바 앱이 응답하지 않습니다.");
}

QString RemoteError::helperNotFound()
{
    return QCoreApplication::translate("Wakora", "헬퍼를 찾을 수 없습니다. 앱을 다시 설치해 주세요.");
}

namespace {

const DBusInterfaceDescription &agentInterface()
{
    static const auto description = DBusInterfaceDescription::load(
        QStringLiteral(":/interfaces/com.quorvel.WakoraApp.MenuBar.xml"), MenuBarService::interfaceName());
    return description;
}

const DBusInterfaceDescription &sessionsInterface()
{
    static const auto description
        = DBusInterfaceDescription::load(QStringLiteral(":/interfaces/com.quorvel.WakoraApp.MenuBar.Sessions.xml"),
            MenuBarService::sessionsInterfaceName());
    return description;
}

const DBusInterfaceDescription &clientInterface()
{
    static const auto description = DBusInterfaceDescription::load(
        QStringLiteral(":/interfaces/com.quorvel.WakoraApp.MenuBarClient.xml"), MenuBarService::clientInterfaceName());
    return description;
}

// Errors that mean the owner we talk to is gone.
bool meansOwnerGone(const QString &errorName)
{
    return errorName == u"org.freedesktop.DBus.Error.ServiceUnknown"
        || errorName == u"org.freedesktop.DBus.Error.NameHasNoOwner"
        || errorName == u"org.freedesktop.DBus.Error.Disconnected";
}

QByteArrayList byteArrays(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QByteArrayList>(value.value<QDBusArgument>());
    return value.value<QByteArrayList>();
}

std::optional<QString> failureText(const QVariantList &reply)
{
    const QStringList failure = reply.value(0).toStringList();
    if (failure.isEmpty())
        return std::nullopt;
    return failure.first();
}

} // namespace

// The callback object every client exports; only the agent we talk to may
// call it.
class MenuBarClientCallback : public QDBusVirtualObject
{
public:
    explicit MenuBarClientCallback(RemoteMenuBar *owner)
        : m_owner(owner)
    { }

    QString introspect(const QString &) const override { return clientInterface().introspection(); }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.interface() != clientInterface().interfaceName() || message.member() != u"StateDidChange"
            || !message.signature().isEmpty())
            return false;
        // The bus may deliver on its own thread; the owner's state lives on its.
        message.setDelayedReply(true);
        QMetaObject::invokeMethod(
            m_owner,
            [owner = m_owner, message, connection] {
                if (!owner)
                    return;
                if (message.service() != owner->m_connection) {
                    if (message.isReplyRequired())
                        connection.send(message.createErrorReply(
                            QDBusError::AccessDenied, peerRefusal(message.service(), QStringLiteral("not the agent"))));
                    return;
                }
                owner->stateDidChange(message.service());
                if (message.isReplyRequired())
                    connection.send(message.createReply());
            },
            Qt::QueuedConnection);
        return true;
    }

private:
    QPointer<RemoteMenuBar> m_owner;
};

RemoteMenuBar::RemoteMenuBar(QDBusConnection bus, ProgramLocations locations,
    std::shared_ptr<ServiceRegistration> loginItem, std::shared_ptr<ServiceRegistration> daemon, Options options,
    QObject *parent)
    : PowerToggling(parent)
    , m_bus(bus)
    , m_locations(std::move(locations))
    , m_loginItem(std::move(loginItem))
    , m_daemon(std::move(daemon))
    , m_options(options)
    , m_watcher(QString(), bus, QDBusServiceWatcher::WatchForUnregistration)
{
    qDBusRegisterMetaType<QByteArrayList>(); // the usage summary's "aay"
    ClaimRecord::registerType();
    TriggerRecord::registerType();
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &RemoteMenuBar::connectionLost);
    if (m_options.receivesChanges) {
        m_callback = std::make_unique<MenuBarClientCallback>(this);
        if (!m_bus.registerVirtualObject(MenuBarService::clientObjectPath(), m_callback.get()))
            qCWarning(lcRemote, "Cannot export the change callback: %s", qUtf8Printable(m_bus.lastError().message()));
    }
}

RemoteMenuBar::~RemoteMenuBar()
{
    if (m_callback)
        m_bus.unregisterObject(MenuBarService::clientObjectPath());
}

bool RemoteMenuBar::isEnabled(AssertionKind kind) const
{
    const qint64 raw = rawValue(kind);
    return raw >= 0 && raw < 64 && (m_mask & (qint64(1) << raw)) != 0;
}

QCoro::Task<Expected<QString, QString>> RemoteMenuBar::connection()
{
    if (m_connection)
        co_return QString(*m_connection); // a copy: QCoro moves from what it is given
    QPointer<RemoteMenuBar> self(this);
    const QDBusConnection bus = m_bus;
    const QString name = MenuBarService::machServiceName();

    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("GetNameOwner"));
    ask << name;
    QDBusPendingCall asking = bus.asyncCall(ask);
    const QDBusMessage owner = co_await asking;
    if (!self)
        co_return Unexpected(RemoteError::notResponding());
    if (owner.type() != QDBusMessage::ReplyMessage || owner.arguments().isEmpty())
        co_return Unexpected(owner.errorMessage());
    const QString unique = owner.arguments().first().toString();

    const auto peer = co_await identifyPeer(bus, unique);
    if (!self)
        co_return Unexpected(RemoteError::notResponding());
    if (!peer)
        co_return Unexpected(peer.error());
    if (peer.value().uid != ::getuid() || !peer.value().runs({ m_locations.agent() })) {
        co_return Unexpected(peerRefusal(unique,
            QStringLiteral("%1 (uid %2) is not the agent %3")
                .arg(peer.value().executable)
                .arg(peer.value().uid)
                .arg(m_locations.agent())));
    }

    if (m_connection) // another request got there first
        co_return QString(*m_connection); // a copy: QCoro moves from what it is given
    m_connection = unique;
    m_lossPolicy.adopt(unique);
    m_watcher.setWatchedServices({ unique });
    co_return unique;
}

QCoro::Task<Expected<QVariantList, QString>> RemoteMenuBar::callRaw(QString method, QVariantList arguments)
{
    QPointer<RemoteMenuBar> self(this);
    const auto target = co_await connection();
    if (!self)
        co_return Unexpected(RemoteError::notResponding());
    if (!target)
        co_return Unexpected(target.error());

    const DBusInterfaceDescription &interface = agentInterface().method(method) ? agentInterface()
                                                                                : sessionsInterface();
    const auto *description = interface.method(method);
    Q_ASSERT(description);
    const QString identity = target.value();
    QDBusMessage call
        = QDBusMessage::createMethodCall(identity, MenuBarService::objectPath(), interface.interfaceName(), method);
    call.setArguments(arguments);
    call.setAutoStartService(false);

    auto once = std::make_shared<ReplyOnce<QVariantList>>();
    // The bus's own time-out comes later than ours, so ours decides.
    const auto busTimeout = m_options.requestTimeout + std::chrono::seconds(5);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, int(busTimeout.count())), this);
    const QString expected = description->outSignature;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, once, watcher, expected, identity] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ErrorMessage) {
            if (meansOwnerGone(reply.errorName()))
                QMetaObject::invokeMethod(
                    this, [this, identity] { connectionLost(identity); }, Qt::QueuedConnection);
            once->resume(Unexpected(reply.errorMessage()));
        } else if (reply.signature() != expected) {
            once->resume(Unexpected(RemoteError::invalidProxy()));
        } else {
            once->resume(reply.arguments());
        }
    });
    QTimer::singleShot(m_options.requestTimeout, [once] { once->resume(Unexpected(RemoteError::notResponding())); });
    co_return co_await once->result();
}

QCoro::Task<> RemoteMenuBar::refresh()
{
    QPointer<RemoteMenuBar> self(this);
    const auto state = co_await callRaw(QStringLiteral("State"), {});
    if (!self)
        co_return;
    if (state) {
        const QVariantList &values = state.value();
        m_mask = values.at(0).toLongLong();
        m_clamshell = values.at(1).toLongLong();
        m_ownerPID = values.at(2).toInt();
        const double since = values.at(3).toDouble();
        if (since > 0)
            m_activeSince = QDateTime::fromMSecsSinceEpoch(qint64(since * 1000.0), QTimeZone::utc());
        else
            m_activeSince.reset();
        m_isAvailable = true;
    } else {
        qCDebug(lcRemote, "The agent's state is unavailable: %s", qUtf8Printable(state.error()));
        m_mask = 0;
        m_clamshell = 0;
        m_activeSince.reset();
        m_isAvailable = false;
        scheduleRetry();
    }
}

void RemoteMenuBar::scheduleRetry()
{
    if (m_retryPending)
        return;
    m_retryPending = true;
    [](QPointer<RemoteMenuBar> self, std::chrono::milliseconds interval) -> QCoro::Task<> {
        co_await QCoro::sleepFor(interval);
        if (!self)
            co_return;
        self->m_retryPending = false; // before refreshing, so a failure schedules the next one
        self->m_retrying = true;
        co_await self->refresh();
        if (!self)
            co_return;
        self->m_retrying = false;
        Q_EMIT self->didChange();
    }(this, m_options.retryInterval);
}

void RemoteMenuBar::connectionLost(const QString &identity)
{
    if (m_lossPolicy.lost(identity) == ConnectionLossPolicy<QString>::Outcome::stale)
        return;
    handleConnectionLoss();
}

void RemoteMenuBar::handleConnectionLoss()
{
    const bool wasAvailable = m_isAvailable;
    m_connection.reset();
    m_watcher.setWatchedServices({});
    m_mask = 0;
    m_clamshell = 0;
    m_activeSince.reset();
    m_isAvailable = false;
    if (wasAvailable) {
        Q_EMIT didChange();
        if (onConnectionLost)
            onConnectionLost();
    }
    scheduleRetry();
}

void RemoteMenuBar::stateDidChange(const QString &)
{
    // The agent announces our own toggle before it replies; the refresh that
    // follows the reply answers that notice too.
    if (m_togglesInFlight > 0) {
        m_noticeDeferred = true;
        return;
    }
    // A burst of notices (a script toggling fast) is answered by one refresh
    // after the last of them, not by one request each.
    if (m_noticeRefreshRunning) {
        m_noticePending = true;
        return;
    }
    m_noticeRefreshRunning = true;
    [](QPointer<RemoteMenuBar> self) -> QCoro::Task<> {
        do {
            self->m_noticePending = false;
            co_await self->refresh();
            if (!self)
                co_return;
            Q_EMIT self->didChange();
            if (self && self->onConnectionLost)
                self->onConnectionLost(); // so the lid-closed controller re-reads its state
            if (!self)
                co_return;
        } while (self->m_noticePending);
        self->m_noticeRefreshRunning = false;
    }(this);
}

void RemoteMenuBar::toggleSettled()
{
    if (--m_togglesInFlight == 0 && m_noticeDeferred) {
        m_noticeDeferred = false;
        stateDidChange(QString()); // a change heard after our last refresh was asked
    }
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::setEnabled(bool enabled, AssertionKind kind)
{
    QVariantList arguments{ QVariant::fromValue(qlonglong(rawValue(kind))), QVariant(enabled) };
    co_return co_await change(QStringLiteral("SetAssertion"), arguments);
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::change(QString method, QVariantList arguments)
{
    QPointer<RemoteMenuBar> self(this);
    ++m_togglesInFlight;
    const auto reply = co_await callRaw(method, arguments);
    if (!self)
        co_return reply ? Expected<void, QString>{} : Unexpected(reply.error());
    if (!reply) {
        toggleSettled();
        co_return Unexpected(reply.error());
    }
    // Asked after every notice heard so far, so it answers them all.
    m_noticeDeferred = false;
    co_await refresh();
    if (!self)
        co_return {};
    toggleSettled();
    Q_EMIT didChange();
    if (const auto failure = failureText(reply.value()))
        co_return Unexpected(*failure);
    co_return {};
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::startTimedSession(qint64 kinds, qint64 seconds, bool thenSuspend)
{
    QVariantList arguments{ QVariant::fromValue(qlonglong(kinds)), QVariant::fromValue(qlonglong(seconds)) };
    // The plain method stays for agents that know no other.
    if (!thenSuspend)
        co_return co_await change(QStringLiteral("StartTimedSession"), arguments);
    arguments.append(QVariant(true));
    co_return co_await change(QStringLiteral("StartTimedSessionThen"), arguments);
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::startTimedSessionUntil(
    qint64 kinds, QDateTime end, bool thenSuspend)
{
    QVariantList arguments{ QVariant::fromValue(qlonglong(kinds)), QVariant(double(end.toMSecsSinceEpoch()) / 1000.0) };
    if (!thenSuspend)
        co_return co_await change(QStringLiteral("StartTimedSessionUntil"), arguments);
    arguments.append(QVariant(true));
    co_return co_await change(QStringLiteral("StartTimedSessionUntilThen"), arguments);
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::cancelTimedSession()
{
    co_return co_await change(QStringLiteral("CancelTimedSession"), {});
}

QCoro::Task<Expected<RemoteMenuBar::TimedSessionState, QString>> RemoteMenuBar::timedSession()
{
    const auto reply = co_await callRaw(QStringLiteral("TimedSession"), {});
    if (!reply)
        co_return Unexpected(reply.error());
    TimedSessionState state;
    state.kinds = reply.value().value(0).toLongLong();
    const double end = reply.value().value(1).toDouble();
    if (state.kinds != 0 && end > 0)
        state.endsAt = QDateTime::fromMSecsSinceEpoch(qint64(end * 1000.0), QTimeZone::utc());
    if (state.kinds != 0) {
        // An agent that cannot put the machine to sleep says so by not knowing the method.
        const auto then = co_await callRaw(QStringLiteral("TimedSessionThenSuspend"), {});
        state.thenSuspend = then && then.value().value(0).toBool();
    }
    co_return state;
}

QCoro::Task<Expected<RemoteMenuBar::Rules, QString>> RemoteMenuBar::rules()
{
    const auto reply = co_await callRaw(QStringLiteral("Rules"), {});
    if (!reply)
        co_return Unexpected(reply.error());
    Rules rules;
    rules.onlyOnAC = reply.value().value(0).toBool();
    rules.batteryFloor = reply.value().value(1).toInt();
    co_return rules;
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::setRules(Rules rules)
{
    QVariantList arguments{ QVariant(rules.onlyOnAC), QVariant(qint32(rules.batteryFloor)) };
    co_return co_await change(QStringLiteral("SetRules"), arguments);
}

QCoro::Task<Expected<RemoteMenuBar::WhileApplication, QString>> RemoteMenuBar::whileApplication()
{
    const auto reply = co_await callRaw(QStringLiteral("WhileApplication"), {});
    if (!reply)
        co_return Unexpected(reply.error());
    WhileApplication rule;
    rule.application = reply.value().value(0).toString();
    rule.kinds = reply.value().value(1).toLongLong();
    co_return rule;
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::setWhileApplication(QString idOrName, qint64 kinds)
{
    QVariantList arguments{ QVariant(idOrName), QVariant::fromValue(qlonglong(kinds)) };
    co_return co_await change(QStringLiteral("SetWhileApplication"), arguments);
}

QCoro::Task<Expected<LidGuardRules, QString>> RemoteMenuBar::lidGuards()
{
    const auto reply = co_await callRaw(QStringLiteral("LidGuards"), {});
    if (!reply)
        co_return Unexpected(reply.error());
    co_return LidGuardRules{ reply.value().value(0).toBool(), reply.value().value(1).toInt(),
        reply.value().value(2).toBool() };
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::setLidGuards(LidGuardRules guards)
{
    QVariantList arguments{ QVariant(guards.powerRules), QVariant(qint32(guards.bagMinutes)),
        QVariant(guards.thermal) };
    co_return co_await change(QStringLiteral("SetLidGuards"), arguments);
}

QCoro::Task<Expected<RemoteMenuBar::Claims, QString>> RemoteMenuBar::claims()
{
    const auto reply = co_await callRaw(QStringLiteral("Claims"), {});
    if (!reply)
        co_return Unexpected(reply.error());
    Claims claims;
    claims.claims = qdbus_cast<QList<ClaimRecord>>(reply.value().value(0));
    claims.vetoes = reply.value().value(1).toStringList();
    co_return claims;
}

QCoro::Task<Expected<QList<TriggerRecord>, QString>> RemoteMenuBar::triggers()
{
    const auto reply = co_await callRaw(QStringLiteral("Triggers"), {});
    if (!reply)
        co_return Unexpected(reply.error());
    co_return qdbus_cast<QList<TriggerRecord>>(reply.value().value(0));
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::setTrigger(
    QString name, bool enabled, qint64 kinds, QVariantMap options)
{
    QVariantList arguments{ QVariant(name), QVariant(enabled), QVariant::fromValue(qlonglong(kinds)),
        QVariant::fromValue(options) };
    co_return co_await change(QStringLiteral("SetTrigger"), arguments);
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::hold(qint64 kinds, QString command)
{
    QVariantList arguments{ QVariant::fromValue(qlonglong(kinds)), QVariant(command) };
    co_return co_await change(QStringLiteral("Hold"), arguments);
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::release()
{
    co_return co_await change(QStringLiteral("Release"), {});
}

void RemoteMenuBar::reconnect()
{
    launchAgent();
}

QCoro::Task<Expected<UsageSummary, QString>> RemoteMenuBar::summary()
{
    const auto reply = co_await callRaw(QStringLiteral("UsageSummary"), {});
    if (!reply)
        co_return Unexpected(reply.error());
    const QByteArrayList data = byteArrays(reply.value().value(0));
    if (data.isEmpty())
        co_return Unexpected(RemoteError::missingUsageData());
    co_return UsageSummary::fromJson(data.first());
}

QCoro::Task<Expected<void, QString>> RemoteMenuBar::clear()
{
    const auto reply = co_await callRaw(QStringLiteral("ClearUsageHistory"), {});
    if (!reply)
        co_return Unexpected(reply.error());
    co_return {};
}

QCoro::Task<Expected<bool, QString>> RemoteMenuBar::opensAtLogin()
{
    const auto reply = co_await callRaw(QStringLiteral("OpensAtLogin"), {});
    if (!reply)
        co_return Unexpected(reply.error());
    co_return reply.value().value(0).toBool();
}

QCoro::Task<Expected<bool, QString>> RemoteMenuBar::setOpensAtLogin(bool enabled)
{
    QVariantList arguments{ QVariant(enabled) };
    const auto reply = co_await callRaw(QStringLiteral("SetOpensAtLogin"), arguments);
    if (!reply)
        co_return Unexpected(reply.error());
    co_return true;
}

ClamshellState RemoteMenuBar::clamshellState() const
{
    ClamshellState state;
    switch (m_daemon ? m_daemon->status() : ServiceRegistration::Status::notFound) {
    case ServiceRegistration::Status::enabled:
        state.approval = ClamshellApproval::enabled;
        break;
    case ServiceRegistration::Status::requiresApproval:
        state.approval = ClamshellApproval::requiresApproval;
        break;
    case ServiceRegistration::Status::notRegistered:
        state.approval = ClamshellApproval::notRegistered;
        break;
    case ServiceRegistration::Status::notFound:
        state.approval = ClamshellApproval::notFound;
        break;
    }
    state.activation = clamshellActivationFromRaw(m_clamshell).value_or(ClamshellActivation::off);
    return state;
}

QCoro::Task<ClamshellState> RemoteMenuBar::currentState()
{
    QPointer<RemoteMenuBar> self(this);
    co_await refresh();
    if (!self)
        co_return ClamshellState{};
    co_return clamshellState();
}

QCoro::Task<Expected<ClamshellState, QString>> RemoteMenuBar::setEnabled(bool enabled)
{
    using Status = ServiceRegistration::Status;
    QPointer<RemoteMenuBar> self(this);
    const auto daemon = m_daemon;
    if (enabled && daemon && daemon->status() != Status::enabled) {
        const auto registered = daemon->registerService();
        if (!registered && daemon->status() != Status::requiresApproval)
            co_return Unexpected(registered.error());
    }
    switch (daemon ? daemon->status() : Status::notFound) {
    case Status::requiresApproval:
        co_return ClamshellState{ ClamshellApproval::requiresApproval, ClamshellActivation::off };
    case Status::notRegistered:
        co_return ClamshellState{ ClamshellApproval::notRegistered, ClamshellActivation::off };
    case Status::notFound:
        if (enabled)
            co_return Unexpected(RemoteError::helperNotFound());
        co_return ClamshellState{ ClamshellApproval::notFound, ClamshellActivation::off };
    case Status::enabled:
        break;
    }

    QVariantList arguments{ QVariant(enabled) };
    const auto reply = co_await callRaw(QStringLiteral("SetClamshell"), arguments);
    if (!reply)
        co_return Unexpected(reply.error());
    if (!self)
        co_return Unexpected(RemoteError::notResponding());
    co_await refresh();
    if (!self)
        co_return Unexpected(RemoteError::notResponding());
    if (const auto failure = failureText(reply.value()))
        co_return Unexpected(*failure);
    co_return ClamshellState{ ClamshellApproval::enabled,
        clamshellActivationFromRaw(m_clamshell).value_or(ClamshellActivation::off) };
}

void RemoteMenuBar::openSettings()
{
    // The desktop's own autostart settings where we know them, else the folder.
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    if (desktop.contains(QStringLiteral("KDE"))
        && !QStandardPaths::findExecutable(QStringLiteral("systemsettings")).isEmpty()
        && QProcess::startDetached(QStringLiteral("systemsettings"), { QStringLiteral("kcm_autostart") }))
        return;
    if (desktop.contains(QStringLiteral("GNOME"))
        && !QStandardPaths::findExecutable(QStringLiteral("gnome-tweaks")).isEmpty()
        && QProcess::startDetached(QStringLiteral("gnome-tweaks"), {}))
        return;
    const QString folder
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void RemoteMenuBar::start()
{
    if (m_loginItem && m_loginItem->status() != ServiceRegistration::Status::enabled) {
        // Written and synced to disk off the main thread, while the window comes up.
        [](std::shared_ptr<ServiceRegistration> loginItem) -> QCoro::Task<> {
            const auto registered = co_await offMainThread([loginItem] { return loginItem->registerService(); });
            if (!registered)
                qCWarning(lcRemote, "Cannot register the agent at login: %s", qUtf8Printable(registered.error()));
        }(m_loginItem);
    }
    replaceForeignAgents();
    [](QPointer<RemoteMenuBar> self) -> QCoro::Task<> {
        co_await self->refresh();
        if (self)
            Q_EMIT self->didChange();
    }(this);
}

void RemoteMenuBar::launchAgent()
{
    const QString agent = m_locations.agent();
    if (!QProcess::startDetached(agent, {}))
        qCWarning(lcRemote, "Cannot start the agent %s", qUtf8Printable(agent));
    [](QPointer<RemoteMenuBar> self, std::chrono::milliseconds delay) -> QCoro::Task<> {
        co_await QCoro::sleepFor(delay);
        if (!self)
            co_return;
        co_await self->refresh();
        if (self)
            Q_EMIT self->didChange();
    }(this, m_options.launchDelay);
}

void RemoteMenuBar::replaceForeignAgents()
{
    const auto foreign
        = foreignAgents(agentProcesses(::getuid(), qgetenv("DBUS_SESSION_BUS_ADDRESS")), m_locations.prefix());
    if (foreign.isEmpty())
        return;
    for (const AgentProcess &agent : foreign) {
        qCInfo(
            lcRemote, "Ending the agent %d (%s) of another installation", agent.pid, qUtf8Printable(agent.executable));
        ::kill(agent.pid, SIGTERM);
    }
    [](QPointer<RemoteMenuBar> self, std::chrono::milliseconds delay) -> QCoro::Task<> {
        co_await QCoro::sleepFor(delay);
        if (self)
            self->launchAgent();
    }(this, m_options.launchDelay);
}
