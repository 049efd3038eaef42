#include "WakoraCommand.h"

#include "FriendlyStatus.h"
#include "HelperRegistration.h"
#include "InterfaceLocale.h"
#include "MenuBarService.h"
#include "RemoteMenuBar.h"
#include "SystemPowerStatus.h"
#include "SystemRunningApplications.h"
#include "UsageSummary.h"

#include <QCoreApplication>
#include <QCoroDBusPendingCall>
#include <QCoroProcess>
#include <QCoroTimer>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QLocale>
#include <QProcess>
#include <QTimeZone>

#include <csignal>
#include <cstdio>

namespace {

void say(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void complain(const QString &text)
{
    std::fputs(qPrintable(QStringLiteral("wakora: ") + text + QLatin1Char('\n')), stderr);
}

QString onOff(bool on)
{
    return on ? QStringLiteral("켜짐") : QStringLiteral("꺼짐");
}

QString duration(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds % 3600) / 60;
    if (hours > 0)
        return QStringLiteral("%1시간 %2분").arg(hours).arg(minutes);
    return QStringLiteral("%1분").arg(minutes);
}

const char usageText[] = "사용법: wakora status | on [--display] | off [--display] | lid on|off | usage [--json]\n"
                         "        | hold [--display] -- COMMAND [ARGUMENT...]";

QString lidMode(qint64 mode)
{
    return mode == 1 ? QStringLiteral("켜짐") : mode == 2 ? QStringLiteral("시스템에서 켜짐") : QStringLiteral("꺼짐");
}

} // namespace

WakoraCommand::WakoraCommand(QDBusConnection bus, ProgramLocations locations)
    : m_bus(bus)
    , m_locations(std::move(locations))
{ }

WakoraCommand::~WakoraCommand() = default;

QCoro::Task<int> WakoraCommand::run(QStringList arguments)
{
    if (arguments.isEmpty()) {
        complain(QString::fromUtf8(usageText));
        co_return usageError;
    }
    const QString verb = arguments.takeFirst();
    if (verb == u"hold") {
        bool display = false;
        while (!arguments.isEmpty() && arguments.first() != u"--") {
            const QString option = arguments.takeFirst();
            if (option != u"--display") {
                complain(QStringLiteral("알 수 없는 옵션: %1\n%2").arg(option, QString::fromUtf8(usageText)));
                co_return usageError;
            }
            display = true;
        }
        if (!arguments.isEmpty())
            arguments.removeFirst(); // the "--"
        if (arguments.isEmpty()) {
            complain(QStringLiteral("실행할 명령이 없습니다.\n%1").arg(QString::fromUtf8(usageText)));
            co_return usageError;
        }
        if (!hasSessionBus())
            co_return noSessionBus;
        co_return co_await hold(display, arguments);
    }

    if (verb == u"lid") {
        if (arguments.size() != 1 || (arguments.first() != u"on" && arguments.first() != u"off")) {
            complain(QStringLiteral("lid 다음에는 on 또는 off가 와야 합니다.\n%1").arg(QString::fromUtf8(usageText)));
            co_return usageError;
        }
        if (!hasSessionBus())
            co_return noSessionBus;
        co_return co_await lid(arguments.first() == u"on");
    }

    const QStringList allowed = verb == u"on" || verb == u"off" ? QStringList{ QStringLiteral("--display") }
        : verb == u"usage"                                      ? QStringList{ QStringLiteral("--json") }
                                                                : QStringList{};
    if (verb != u"status" && verb != u"on" && verb != u"off" && verb != u"usage") {
        complain(QStringLiteral("알 수 없는 명령: %1\n%2").arg(verb, QString::fromUtf8(usageText)));
        co_return usageError;
    }
    for (const QString &option : std::as_const(arguments)) {
        if (!allowed.contains(option)) {
            complain(QStringLiteral("알 수 없는 옵션: %1\n%2").arg(option, QString::fromUtf8(usageText)));
            co_return usageError;
        }
    }
    if (!hasSessionBus())
        co_return noSessionBus;
    const bool flag = !arguments.isEmpty();
    if (verb == u"status")
        co_return co_await status();
    if (verb == u"usage")
        co_return co_await usage(flag);
    co_return co_await switchKinds(verb == u"on", flag);
}

bool WakoraCommand::hasSessionBus() const
{
    // Without it no agent can be found or started: asking would only wait out the time-outs.
    if (m_bus.isConnected())
        return true;
    QString text = QStringLiteral("세션 버스에 연결할 수 없습니다. 데스크톱 세션의 터미널에서 실행하세요.");
    if (const QString why = m_bus.lastError().message(); !why.isEmpty())
        text += QStringLiteral(" (%1)").arg(why);
    complain(text);
    return false;
}

QCoro::Task<bool> WakoraCommand::ensureAgent()
{
    const QString name = MenuBarService::machServiceName();
    if (m_bus.interface()->isServiceRegistered(name).value())
        co_return true;

    QDBusMessage start = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("StartServiceByName"));
    start << name << quint32(0);
    QDBusPendingCall starting = m_bus.asyncCall(start, 15'000);
    const QDBusMessage started = co_await starting;
    if (started.type() == QDBusMessage::ReplyMessage)
        co_return true;

    // Not installed for activation (a build tree): start ours directly.
    if (!QProcess::startDetached(m_locations.agent(), {})) {
        complain(QStringLiteral("메뉴바 앱을 시작하지 못했습니다: %1").arg(m_locations.agent()));
        co_return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10'000) {
        if (m_bus.interface()->isServiceRegistered(name).value())
            co_return true;
        co_await QCoro::sleepFor(std::chrono::milliseconds(50));
    }
    complain(QStringLiteral("메뉴바 앱이 응답하지 않습니다."));
    co_return false;
}

QCoro::Task<bool> WakoraCommand::reachAgent()
{
    const bool started = co_await ensureAgent();
    bool connected = false;
    if (started)
        connected = co_await connect();
    if (!connected)
        complain(QStringLiteral("메뉴바 앱에 연결하지 못했습니다."));
    co_return connected;
}

QCoro::Task<bool> WakoraCommand::connect()
{
    RemoteMenuBar::Options options;
    options.receivesChanges = false;
    // The helper's registration tells the lid-closed requests whether the helper is installed.
    m_remote = std::make_unique<RemoteMenuBar>(m_bus, m_locations, nullptr,
        std::make_shared<HelperRegistration>(HelperRegistration::forPrefix(m_locations.prefix())), options);
    co_await m_remote->refresh();
    co_return m_remote->isAvailable();
}

QCoro::Task<int> WakoraCommand::status()
{
    bool reached = m_bus.interface()->isServiceRegistered(MenuBarService::machServiceName()).value();
    if (reached)
        reached = co_await connect();
    if (!reached) {
        say(QStringLiteral("메뉴바 앱이 실행 중이 아닙니다."));
        co_return agentNotRunning;
    }
    say(QStringLiteral("잠자기 방지: %1").arg(onOff(m_remote->isEnabled(AssertionKind::systemSleep))));
    say(QStringLiteral("디스플레이 켜 두기: %1").arg(onOff(m_remote->isEnabled(AssertionKind::displaySleep))));
    if (const auto since = m_remote->activeSince()) {
        const qint64 elapsed = std::max<qint64>(since->secsTo(QDateTime::currentDateTimeUtc()), 0);
        say(QStringLiteral("켜진 시각: %1 (%2)").arg(since->toLocalTime().toString(Qt::ISODate), duration(elapsed)));
    }
    say(QStringLiteral("덮개를 닫아도 유지: %1").arg(lidMode(m_remote->clamshellMode())));
    say(QStringLiteral("메뉴바 앱: pid %1").arg(m_remote->ownerPID()));
    co_await listInhibitors(m_remote->ownerPID());
    co_return success;
}

QCoro::Task<> WakoraCommand::listInhibitors(qint32 agentPID)
{
    // Read here, as the window does: who else keeps the machine awake is
    // not the agent's to tell.
    const auto applications = std::make_shared<SystemRunningApplications>();
    SystemPowerStatus reader(QDBusConnection::systemBus(), m_bus, applications);
    const auto assertions = co_await reader.assertions();
    if (!assertions) {
        say(QStringLiteral("지금 잠자기를 막는 앱: 상태를 조회하지 못했습니다. (%1)")
                .arg(assertions.error().errorDescription()));
        co_return;
    }
    const FriendlyStatus status
        = FriendlyStatus::build(assertions.value(), agentPID, FriendlyStatus::applicationNames(*applications));
    if (status.apps.isEmpty())
        say(QStringLiteral("지금 잠자기를 막는 앱: 없음"));
    else
        say(QStringLiteral("지금 잠자기를 막는 앱:"));
    for (const FriendlyApp &app : status.apps)
        say(QStringLiteral("  %1 — %2 (pid %3)").arg(app.name, app.activityText()).arg(app.pid));
    if (!status.systemProcesses.isEmpty())
        say(QStringLiteral("시스템 프로세스: %1").arg(status.systemProcesses.join(QStringLiteral(", "))));
}

QCoro::Task<int> WakoraCommand::switchKinds(bool enabled, bool display)
{
    if (!co_await reachAgent())
        co_return failure;
    QList<AssertionKind> kinds{ AssertionKind::systemSleep };
    if (display)
        kinds.append(AssertionKind::displaySleep);
    for (const AssertionKind kind : kinds) {
        const auto result = co_await m_remote->setEnabled(enabled, kind);
        if (!result) {
            complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(result.error()));
            co_return failure;
        }
    }
    co_return success;
}

QCoro::Task<int> WakoraCommand::lid(bool enabled)
{
    if (!co_await reachAgent())
        co_return failure;
    const auto state = co_await m_remote->setEnabled(enabled);
    if (!state) {
        // The agent's message already says what could not be changed, and why.
        complain(state.error());
        co_return failure;
    }
    say(QStringLiteral("덮개를 닫아도 유지: %1").arg(lidMode(rawValue(state.value().activation))));
    if (enabled && state.value().activation == ClamshellActivation::onOutsideApp) {
        say(QStringLiteral("시스템에서 이미 켜져 있습니다. 이 앱은 이 설정을 변경하지 않습니다."));
    } else if (enabled && state.value().activation != ClamshellActivation::ownedByApp) {
        complain(QStringLiteral("덮개 설정을 변경하지 못했습니다. (헬퍼를 사용할 수 없습니다)"));
        co_return failure;
    }
    co_return success;
}

QCoro::Task<int> WakoraCommand::usage(bool json)
{
    if (!co_await reachAgent())
        co_return failure;
    const auto summary = co_await m_remote->summary();
    if (!summary) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(summary.error()));
        co_return failure;
    }
    if (json) {
        std::fputs(summary.value().toJson().constData(), stdout);
        std::fputs("\n", stdout);
        co_return success;
    }
    // In the window's language, as its chart names them.
    for (const DailyUsage &day : summary.value().days)
        say(QStringLiteral("%1  %2")
                .arg(dayText(day.date.toLocalTime().date()), -13)
                .arg(duration(qint64(day.seconds))));
    say(QStringLiteral("하루 평균: %1").arg(duration(qint64(summary.value().dailyAverage()))));
    for (const AppUsage &app : summary.value().apps)
        say(QStringLiteral("  %1  %2").arg(app.name, -24).arg(duration(app.minutes * 60)));
    co_return success;
}

QCoro::Task<int> WakoraCommand::hold(bool display, QStringList command)
{
    if (!co_await reachAgent())
        co_return failure;
    QList<AssertionKind> kinds{ AssertionKind::systemSleep };
    if (display)
        kinds.append(AssertionKind::displaySleep);

    // Turn back off only what this command turned on.
    QList<AssertionKind> turnedOn;
    for (const AssertionKind kind : kinds) {
        if (m_remote->isEnabled(kind))
            continue;
        const auto result = co_await m_remote->setEnabled(true, kind);
        if (!result) {
            complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(result.error()));
            for (const AssertionKind done : std::as_const(turnedOn))
                co_await m_remote->setEnabled(false, done);
            co_return failure;
        }
        turnedOn.append(kind);
    }

    // Like system(3): an interrupt from the terminal reaches the command,
    // and we wait for it to end before giving the kinds back.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setInputChannelMode(QProcess::ForwardedInputChannel);
    child.setChildProcessModifier([] {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGQUIT, SIG_DFL);
    });
    const QString program = command.takeFirst();
    int status = failure;
    // Starting is quick and its failure is known at once; only the run is awaited.
    child.start(program, command);
    const bool started = child.waitForStarted(-1);
    auto running = qCoro(child);
    if (!started) {
        complain(QStringLiteral("%1을(를) 실행하지 못했습니다: %2").arg(program, child.errorString()));
        status = commandNotStarted;
    } else {
        co_await running.waitForFinished(-1);
        status = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 128 + SIGTERM;
    }

    for (const AssertionKind kind : std::as_const(turnedOn)) {
        const auto result = co_await m_remote->setEnabled(false, kind);
        if (!result)
            complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(result.error()));
    }
    co_return status;
}
