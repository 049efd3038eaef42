#include "MenuBarAppDelegate.h"

#include "AgentHandoverFile.h"
#include "ApplicationSessionWatcher.h"
#include "ClaimTexts.h"
#include "ClamshellClient.h"
#include "ClamshellController.h"
#include "DesktopLidSettings.h"
#include "HelperRegistration.h"
#include "InhibitorPowerControl.h"
#include "KeepAwakeLedger.h"
#include "LedgerSwitch.h"
#include "LidGuards.h"
#include "LidStateMonitor.h"
#include "LoginLaunchPolicy.h"
#include "MenuBarService.h"
#include "MenuBarXPCService.h"
#include "PowerController.h"
#include "PowerSourceMonitor.h"
#include "ProgramReplacement.h"
#include "RuleStore.h"
#include "SessionLength.h"
#include "SessionNotifier.h"
#include "SessionRuleKeeper.h"
#include "SleepWatcher.h"
#include "StatusItemController.h"
#include "SuspendAfterSession.h"
#include "SysfsThermalZones.h"
#include "SystemApplicationPresence.h"
#include "SystemPowerStatus.h"
#include "SystemRunningApplications.h"
#include "TimedSessionController.h"
#include "TriggerKeeper.h"
#include "Triggers.h"
#include "UsageRecorder.h"
#include "UsageStore.h"
#include "WallClockWatcher.h"
#include "X11ScreenSaverSuspension.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QTimer>

#include <QCoroDBusPendingCall>
#include <QCoroTimer>

#include <cerrno>
#include <csignal>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcAgent, "com.quorvel.WakoraApp.MenuBar")

MenuBarAppDelegate::MenuBarAppDelegate(
    QDBusConnection systemBus, QDBusConnection sessionBus, ProgramLocations locations, Options options, QObject *parent)
    : QObject(parent)
    , m_systemBus(systemBus)
    , m_sessionBus(sessionBus)
    , m_locations(std::move(locations))
    , m_options(std::move(options))
    , m_powerControl(std::make_shared<InhibitorPowerControl>(systemBus, sessionBus))
    , m_powerController(std::make_unique<PowerController>(m_powerControl))
    , m_ledger(std::make_unique<KeepAwakeLedger>(m_powerController.get()))
    , m_switch(std::make_unique<LedgerSwitch>(m_powerController.get(), m_ledger.get()))
    , m_ruleStore(std::make_unique<RuleStore>())
    , m_powerSource(std::make_unique<PowerSourceMonitor>(systemBus))
    , m_timedSessions(std::make_unique<TimedSessionController>(m_ledger.get()))
    , m_sessionNotifier(std::make_unique<SessionNotifier>(m_timedSessions.get(), sessionBus))
    , m_ruleKeeper(std::make_unique<SessionRuleKeeper>(m_ledger.get(), m_ruleStore.get()))
{
    // The ledger is the only one to ask the power controller; everything
    // that keeps the machine awake is a claim on it.
    connect(m_powerSource.get(), &PowerSourceMonitor::changed, m_ruleKeeper.get(),
        [this] { m_ruleKeeper->setSource(m_powerSource->source()); });
    connect(m_ruleKeeper.get(), &SessionRuleKeeper::ended, m_sessionNotifier.get(),
        [notifier = m_sessionNotifier.get()](const QString &reason) { notifier->notifyRuleBroken(reason); });
}

MenuBarAppDelegate::~MenuBarAppDelegate() = default;

bool MenuBarAppDelegate::applicationDidFinishLaunching()
{
    // The helper on the system bus (a private one when DBUS_SYSTEM_BUS_ADDRESS names it).
    ClamshellClient::Options clamshellOptions;
    // A system bus that restarts leaves our connection dead for good: the
    // client opens a new one of its own (libdbus follows the same
    // DBUS_SYSTEM_BUS_ADDRESS), under a name not used before.
    clamshellOptions.reconnect = [attempt = 0]() mutable {
        return QDBusConnection::connectToBus(
            QDBusConnection::SystemBus, QStringLiteral("wakora-clamshell-system-%1").arg(++attempt));
    };
    auto clamshellService = std::make_shared<ClamshellClient>(m_systemBus, m_locations,
        std::make_shared<HelperRegistration>(HelperRegistration::forPrefix(m_locations.prefix())), clamshellOptions);
    m_clamshell = std::make_unique<ClamshellController>(clamshellService);
    m_clamshell->setLidHandlerLookup([bus = m_systemBus] { return DesktopLidSettings::readLidHandler(bus); });
    guardTheLid();

    // A failed toggle from the menu opens the main window; the agent itself
    // shows no error text.
    m_statusItemController = std::make_unique<StatusItemController>(
        m_switch.get(), m_options.showsStatusItem, m_clamshell.get(), [this] { openMainApplication(); },
        [this](const QString &) { openMainApplication(); });
    offerTimedSessions();
    connect(m_ledger.get(), &KeepAwakeLedger::changed, m_statusItemController.get(), &StatusItemController::sync);
    m_statusItemController->setReasons([ledger = m_ledger.get()] {
        QStringList vetoes;
        if (ledger->veto())
            vetoes.append(*ledger->veto());
        return ClaimTexts::of(ledger->claims(), vetoes, QDateTime::currentDateTimeUtc());
    });

    // On X11 the server's own blanking is held off with the display kind.
    // Elsewhere a display kind that only logind holds is said to be unsure:
    // few compositors outside GNOME and Plasma consult logind's idle lock.
    m_screenSaver = std::make_unique<X11ScreenSaverSuspension>(X11ScreenSaverSuspension::forApplication());
    connect(m_powerController.get(), &PowerToggling::didChange, this,
        [this] { m_screenSaver->setSuspended(m_powerController->isEnabled(AssertionKind::displaySleep)); });
    m_powerController->setBlankingCheck([this](quint32 id) {
        return !m_screenSaver->isAvailable() && m_powerControl->backendOf(id) == QLatin1String("logind");
    });

    // Time asleep is not time kept awake; a session's end is looked at again
    // after a resume and after the wall clock is set, so that it ends on time.
    m_sleepWatcher = std::make_unique<SleepWatcher>(m_systemBus);
    connect(m_sleepWatcher.get(), &SleepWatcher::goingToSleep, this, [this] { m_powerController->setAsleep(true); });
    connect(m_sleepWatcher.get(), &SleepWatcher::resumed, this, [this] {
        m_powerController->setAsleep(false);
        m_timedSessions->checkEnd();
    });
    m_wallClock = std::make_unique<WallClockWatcher>();
    connect(m_wallClock.get(), &WallClockWatcher::clockSet, this, [this] { m_timedSessions->checkEnd(); });

    // A session started "then suspend" puts the machine to sleep a minute
    // after its end, unless the user says otherwise.
    SuspendAfterSession::Notices notices;
    notices.warn
        = [notifier = m_sessionNotifier.get()](std::chrono::milliseconds grace) { notifier->notifySuspending(grace); };
    notices.withdraw = [notifier = m_sessionNotifier.get()] { notifier->withdrawSuspending(); };
    notices.failed
        = [notifier = m_sessionNotifier.get()](const QString &cause) { notifier->notifySuspendFailed(cause); };
    m_suspendAfterSession = std::make_unique<SuspendAfterSession>(
        m_timedSessions.get(), m_ledger.get(), std::move(notices),
        [bus = m_systemBus] { return SuspendAfterSession::suspendThroughLogind(bus); },
        m_options.suspendGrace.value_or(SuspendAfterSession::defaultGrace));
    connect(m_sessionNotifier.get(), &SessionNotifier::suspendCancelled, m_suspendAfterSession.get(),
        &SuspendAfterSession::cancel);

    // One directory of applications serves the recorder and the status reader,
    // which matches the desktops' application ids to processes through it.
    auto applications = std::make_shared<SystemRunningApplications>();
    auto status = std::make_shared<SystemPowerStatus>(m_systemBus, m_sessionBus, applications);
    SystemApplicationPresence::Options presence;
    if (!m_options.applicationUnits.isEmpty())
        presence.cgroupRoot = m_options.applicationUnits;
    m_applicationWatcher = std::make_unique<ApplicationSessionWatcher>(m_ledger.get(), m_ruleStore.get(), applications,
        std::make_shared<SystemApplicationPresence>(applications, presence));
    connect(m_applicationWatcher.get(), &ApplicationSessionWatcher::ended, m_sessionNotifier.get(),
        [notifier = m_sessionNotifier.get()](const QString &reason) { notifier->notifyRuleBroken(reason); });
    // Media, fullscreen windows, remote logins, a busy machine, a schedule:
    // each a claim of its own while it holds, watched only while its rule is on.
    TriggerPlaces places;
    places.sessionBus = m_sessionBus;
    places.systemBus = m_systemBus;
    places.wallClock = m_wallClock.get();
    places.sleep = m_sleepWatcher.get();
    m_triggerKeeper = std::make_unique<TriggerKeeper>(m_ledger.get(), m_ruleStore.get(), makeTriggers(places, nullptr));
    m_usageRecorder = std::make_unique<UsageRecorder>(m_powerController.get(), std::move(status),
        std::move(applications), std::make_shared<UsageStore>(UsageStore::defaultPath()));

    QStringList clients{ m_locations.mainApplication(), m_locations.commandLine() };
    clients += m_options.extraClients;
    m_xpcService = std::make_unique<MenuBarXPCService>(m_switch.get(), m_ledger.get(), m_clamshell.get(),
        m_usageRecorder->store(), m_sessionBus, clients, m_timedSessions.get(), m_ruleKeeper.get(),
        m_applicationWatcher.get(), m_lidGuards.get(), m_triggerKeeper.get());

    // Requests are served only from here on, once everything above exists.
    if (!m_xpcService->registerOnBus()) {
        qCCritical(
            lcAgent, "Cannot export the request service: %s", qUtf8Printable(m_sessionBus.lastError().message()));
        return false;
    }
    // An agent replaced on an upgrade left what it held: taken before the
    // name, so that no request sees this agent without it.
    QString ignored;
    if (auto handedOver = AgentHandoverFile(AgentHandoverFile::defaultPath()).take(&ignored)) {
        resumeThenServe(*handedOver);
    } else {
        if (!ignored.isEmpty())
            qCWarning(lcAgent, "%s", qUtf8Printable(ignored));
        if (!ownName())
            return false;
    }

    // libdbus tells a connection that the bus has gone away with this local
    // signal; it never travels over the bus itself.
    m_sessionBus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
        QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this,
        SLOT(sessionBusDisconnected()));

    QTimer::singleShot(std::chrono::seconds(m_options.graceSeconds), this, &MenuBarAppDelegate::checkIdle);
    return true;
}

bool MenuBarAppDelegate::ownName()
{
    // Synchronous: the bus daemon answers this itself, at once.
    const auto registered = m_sessionBus.interface()->registerService(MenuBarService::machServiceName(),
        QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!registered.isValid() || registered.value() != QDBusConnectionInterface::ServiceRegistered) {
        qCCritical(lcAgent, "Cannot own the bus name %s: %s", qUtf8Printable(MenuBarService::machServiceName()),
            qUtf8Printable(registered.error().message()));
        return false;
    }
    return true;
}

AgentHandoverState MenuBarAppDelegate::handoverState() const
{
    AgentHandoverState state;
    if (const auto manual = m_ledger->claim(Claim::manualOwner()))
        state.switchKinds = manual->kinds;
    const TimedSession &session = m_timedSessions->session();
    if (session.isRunning())
        state.timedSession = AgentHandoverState::TimedSession{ session.kinds(), *session.endsAt(),
            m_timedSessions->deadline(), session.thenSuspend() };
    state.lidClosedMode = m_clamshell && m_clamshell->state().activation == ClamshellActivation::ownedByApp;
    return state;
}

QCoro::Task<> MenuBarAppDelegate::handOverToNewProgram()
{
    if (m_quitting || m_handingOver || !m_xpcService)
        co_return;
    const auto replacement = ProgramReplacement::check();
    if (!replacement) {
        qCInfo(lcAgent, "Asked to restart into a new program; staying: %s", qUtf8Printable(replacement.error()));
        co_return;
    }
    QPointer<MenuBarAppDelegate> self(this);
    m_handingOver = true;
    const AgentHandoverState state = handoverState();
    const AgentHandoverFile file(AgentHandoverFile::defaultPath());
    if (const auto written = file.write(state); !written) {
        qCWarning(lcAgent, "Cannot hand over to the new program; staying: %s", qUtf8Printable(written.error()));
        m_handingOver = false;
        co_return;
    }
    qCInfo(lcAgent, "Handing over to %s", qUtf8Printable(replacement.value()));

    // The new agent owns the name once it holds what we hold; until then
    // we hold it all too, so nothing lapses in between.
    const QString name = MenuBarService::machServiceName();
    QDBusConnectionInterface *bus = m_sessionBus.interface();
    QDBusPendingCall releasing = bus->asyncCall(QStringLiteral("ReleaseName"), name);
    const QDBusMessage released = co_await releasing;
    if (!self)
        co_return;
    if (released.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcAgent, "Cannot give up the name; staying: %s", qUtf8Printable(released.errorMessage()));
        file.discard();
        m_handingOver = false;
        co_return;
    }

    QProcess process;
    process.setProgram(replacement.value());
    process.setArguments(QCoreApplication::arguments().mid(1));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Set by main() itself for want of a display: the new agent decides anew.
    if (!m_options.showsStatusItem)
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    qint64 newAgent = 0;
    if (!process.startDetached(&newAgent)) {
        file.discard();
        const QString why = QStringLiteral("cannot start it: %1").arg(process.errorString());
        co_await keepServing(why, 0, QString(), false);
        co_return;
    }

    constexpr auto patience = std::chrono::seconds(15);
    const QDeadlineTimer deadline(patience);
    while (!deadline.hasExpired()) {
        co_await QCoro::sleepFor(std::chrono::milliseconds(50));
        if (!self)
            co_return;
        QDBusPendingCall asking = bus->asyncCall(QStringLiteral("GetConnectionUnixProcessID"), name);
        const QDBusMessage owner = co_await asking;
        if (!self)
            co_return;
        const uint ownerPid = owner.arguments().value(0).toUInt();
        if (owner.type() == QDBusMessage::ReplyMessage && ownerPid != uint(::getpid())) {
            qCInfo(lcAgent, "The agent in pid %u serves now; quitting", ownerPid);
            // Only our own inhibitors go: the lid-closed mode is the new agent's.
            quitWhenReleased();
            co_return;
        }
        if (::kill(pid_t(newAgent), 0) != 0 && errno == ESRCH)
            break;
    }
    // Taken by the new agent or not, the file is of no use now.
    file.discard();
    const QString why = QStringLiteral("the new agent did not take the name");
    co_await keepServing(why, newAgent, replacement.value(), state.lidClosedMode);
}

QCoro::Task<> MenuBarAppDelegate::keepServing(QString why, qint64 newAgent, QString program, bool lidClosedMode)
{
    QPointer<MenuBarAppDelegate> self(this);
    qCCritical(lcAgent, "The hand-over to the new program failed (%s); this agent keeps serving", qUtf8Printable(why));
    if (!ownName())
        qCCritical(lcAgent, "Cannot take the name back");
    // Ended before the lid-closed mode is taken back: it would otherwise
    // move to it again, and its quitting would give the setting back.
    // Only while that pid still runs the new program: a pid may be reused.
    const bool ours = newAgent > 0 && QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(newAgent)) == program;
    if (ours && ::kill(pid_t(newAgent), SIGTERM) == 0) {
        const QDeadlineTimer deadline(std::chrono::seconds(5));
        while (!deadline.hasExpired() && ::kill(pid_t(newAgent), 0) == 0) {
            co_await QCoro::sleepFor(std::chrono::milliseconds(50));
            if (!self)
                co_return;
        }
    }
    if (lidClosedMode && m_clamshell && m_clamshell->state().activation != ClamshellActivation::ownedByApp) {
        const QPointer<ClamshellController> clamshell = m_clamshell.get();
        const auto failure = co_await clamshell->setEnabledAwaiting(true);
        if (!self)
            co_return;
        if (failure)
            qCCritical(lcAgent, "Cannot take the lid-closed mode back: %s", qUtf8Printable(*failure));
    }
    m_handingOver = false;
}

QCoro::Task<> MenuBarAppDelegate::resumeThenServe(AgentHandoverState state)
{
    QPointer<MenuBarAppDelegate> self(this);
    QStringList failures;
    if (state.switchKinds != 0) {
        // As the switch left it; a veto in force now only delays it.
        const QString owner = Claim::manualOwner();
        const KeepAwakeLedger::Details details{ std::nullopt, QString(), true };
        const QPointer<KeepAwakeLedger> ledger = m_ledger.get();
        if (const auto failure = co_await ledger->add(owner, state.switchKinds, details))
            failures.append(*failure);
        if (!self)
            co_return;
    }
    if (const auto session = state.timedSession) {
        const QPointer<TimedSessionController> sessions = m_timedSessions.get();
        auto resuming
            = sessions->resume(session->kinds, session->endsAt, session->deadlineSinceBoot, session->thenSuspend);
        if (const auto failure = co_await std::move(resuming))
            failures.append(*failure);
        if (!self)
            co_return;
    }
    // Last: once the mode is ours, the agent before can no longer give it back.
    if (state.lidClosedMode && failures.isEmpty()) {
        const QPointer<ClamshellController> clamshell = m_clamshell.get();
        if (const auto failure = co_await clamshell->setEnabledAwaiting(true))
            failures.append(*failure);
        if (!self)
            co_return;
    }
    if (!failures.isEmpty()) {
        qCCritical(lcAgent, "Cannot take over from the agent before (%s); it keeps serving",
            qUtf8Printable(failures.join(QStringLiteral("; "))));
        quitWhenReleased();
        co_return;
    }
    if (!ownName()) {
        quitWhenReleased();
        co_return;
    }
    qCInfo(lcAgent, "Took over from the agent before: switch %lld, timed session %s, lid-closed mode %s",
        state.switchKinds, state.timedSession ? "yes" : "no", state.lidClosedMode ? "on" : "off");
}

void MenuBarAppDelegate::sessionBusDisconnected()
{
    qCWarning(lcAgent, "The session bus is gone");
    Q_EMIT sessionBusLost();
}

void MenuBarAppDelegate::checkIdle()
{
    const QSettings defaults(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar"));
    const bool opensAtLogin = defaults.value(LoginLaunchPolicy::defaultsKey(), true).toBool();
    const bool hasClients = m_xpcService->hasClients();
    // A rule to keep awake while an application runs, or a trigger set to
    // watch, is a standing order, which only a running agent can carry out.
    const bool hasActiveFeatures = m_xpcService->state().assertions != 0
        || (m_clamshell && m_clamshell->state().activation != ClamshellActivation::off)
        || (m_applicationWatcher && !m_applicationWatcher->rule().application.isEmpty())
        || (m_triggerKeeper && m_triggerKeeper->hasStandingRule());
    if (LoginLaunchPolicy::shouldExit(opensAtLogin, hasClients, hasActiveFeatures)) {
        qCInfo(lcAgent, "Not wanted at login and nothing needs it: quitting");
        QCoreApplication::quit();
    }
}

void MenuBarAppDelegate::guardTheLid()
{
    const QString zones = m_options.thermalZones.isEmpty() ? SysfsThermalZones::defaultRoot() : m_options.thermalZones;
    m_lidGuards = std::make_unique<LidGuards>(
        m_clamshell.get(), m_ruleStore.get(), std::make_shared<SysfsThermalZones>(zones), LidGuards::Options{});
    m_lidState = std::make_unique<LidStateMonitor>(m_systemBus);
    const auto follow = [this] {
        m_lidGuards->setLid(m_lidState->lidClosed(), m_lidState->docked());
        m_lidGuards->setSource(m_powerSource->source());
    };
    connect(m_lidState.get(), &LidStateMonitor::changed, m_lidGuards.get(), follow);
    connect(m_powerSource.get(), &PowerSourceMonitor::changed, m_lidGuards.get(), follow);
    follow();
    // Only the lid-closed mode ends; the notice says why, as the conditions' does.
    connect(m_lidGuards.get(), &LidGuards::gaveBack, m_sessionNotifier.get(),
        [notifier = m_sessionNotifier.get()](const QString &reason) { notifier->notifyLidGivenBack(reason); });
}

void MenuBarAppDelegate::offerTimedSessions()
{
    // The tray's timer keeps the system awake; the display follows its own switch.
    constexpr qint64 systemSleep = 1;
    StatusItemController::TimerActions actions;
    actions.startFor = [this](qint64 seconds) { reportTimedStart(m_timedSessions->startFor(systemSleep, seconds)); };
    actions.startTyped = [this](const QString &typed, bool thenSuspend) -> QString {
        if (typed.contains(QLatin1Char(':'))) {
            const auto time = SessionLength::parseClockTime(typed);
            if (!time)
                return time.error();
            const QDateTime end = SessionLength::nextOccurrence(
                QDateTime::currentDateTime(), time.value(), QTimeZone::systemTimeZone());
            reportTimedStart(m_timedSessions->startUntil(systemSleep, end, thenSuspend));
            return QString();
        }
        const auto seconds = SessionLength::parseDuration(typed);
        if (!seconds)
            return seconds.error();
        reportTimedStart(m_timedSessions->startFor(systemSleep, seconds.value(), thenSuspend));
        return QString();
    };
    actions.cancel = [this] { m_timedSessions->cancel(); };
    actions.endsAt = [this] { return m_timedSessions->session().endsAt(); };
    m_statusItemController->setTimerActions(std::move(actions));
    connect(m_timedSessions.get(), &TimedSessionController::didChange, m_statusItemController.get(),
        &StatusItemController::sync);
}

QCoro::Task<> MenuBarAppDelegate::reportTimedStart(QCoro::Task<std::optional<QString>> start)
{
    QPointer<MenuBarAppDelegate> self(this);
    const std::optional<QString> error = co_await std::move(start);
    if (!self || !error)
        co_return;
    qCWarning(lcAgent, "A timed session from the tray did not start: %s", qUtf8Printable(*error));
    if (!m_options.showsStatusItem)
        co_return;
    // Said where it was asked: the tray has no window of its own.
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Wakora"),
        QCoreApplication::translate("WakoraUI", "잠자기 방지를 켜지 못했습니다. (%1)").arg(*error));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QCoro::Task<> MenuBarAppDelegate::quitWhenReleased()
{
    if (m_quitting)
        co_return;
    m_quitting = true;
    QPointer<MenuBarAppDelegate> self(this);
    m_ledger->detach();
    // Each service's answer is bounded by its time-out, so this ends.
    co_await m_powerController->releaseAll();
    if (!self)
        co_return;
    QCoreApplication::quit();
}

void MenuBarAppDelegate::applicationWillTerminate()
{
    // logind's locks are given back here and now; a desktop service's
    // answer can no longer be awaited, but our connection closing as the
    // process ends gives it back all the same.
    m_ledger->detach();
    (void)m_powerController->releaseAll();
    // The history's last session ends with the process, and the history is
    // on disk before the process ends.
    if (m_usageRecorder)
        m_usageRecorder->finish();
}

void MenuBarAppDelegate::openMainApplication()
{
    const QString application = m_locations.mainApplication();
    if (!QFileInfo(application).isExecutable() || !QProcess::startDetached(application, {}))
        qCWarning(lcAgent, "Cannot open the main application %s", qUtf8Printable(application));
}
