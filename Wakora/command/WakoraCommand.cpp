#include "WakoraCommand.h"

#include "ClaimTexts.h"
#include "CommandOutput.h"
#include "HelperRegistration.h"
#include "HoldNotices.h"
#include "InterfaceLocale.h"
#include "LidCommand.h"
#include "MenuBarService.h"
#include "ReferenceDate.h"
#include "RemoteMenuBar.h"
#include "SessionLength.h"
#include "TriggerCommand.h"
#include "UsageSummary.h"

#include <QCoreApplication>
#include <QCoroDBusPendingCall>
#include <QCoroProcess>
#include <QCoroTimer>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QTimeZone>

#include <csignal>
#include <cstdio>

namespace {

using CommandOutput::complain;
using CommandOutput::kindNames;
using CommandOutput::say;

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

// Minutes rounded up, so a running session never reads "0분"; seconds in its last minute.
QString remaining(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1초 남음").arg(std::max<qint64>(seconds, 0));
    return QStringLiteral("%1 남음").arg(duration((seconds + 59) / 60 * 60));
}

QString ruleLines(const RemoteMenuBar::Rules &rules, const RemoteMenuBar::WhileApplication &application)
{
    QString app = application.application.isEmpty() ? QStringLiteral("없음") : application.application;
    if (!application.application.isEmpty() && (application.kinds & assertionBit(AssertionKind::displaySleep)))
        app += QStringLiteral(" (디스플레이 포함)");
    return QStringLiteral("AC 전원에서만: %1\n배터리 하한: %2\n이 앱이 실행 중일 때: %3")
        .arg(onOff(rules.onlyOnAC),
            rules.batteryFloor > 0 ? QStringLiteral("%1%").arg(rules.batteryFloor) : QStringLiteral("없음"), app);
}

QJsonValue referenceSeconds(const std::optional<QDateTime> &time)
{
    return time ? QJsonValue(ReferenceDate::secondsSinceReferenceDate(*time)) : QJsonValue();
}

// Said after a timed session's end when the machine sleeps then.
QString thenSuspendText(bool thenSuspend)
{
    return thenSuspend ? QStringLiteral(", 끝나면 잠자기") : QString();
}

const char usageText[]
    = "사용법: wakora status [--json] | on [--display] [--for 길이 | --until 시각 [--then-suspend]]\n"
      "        | off [--display]\n"
      "        | toggle [--display] | lid [on|off] | lid guard [power on|off | bag 분|off | thermal on|off]\n"
      "        | rule [ac on|off | battery 퍼센트|off | app 앱ID [--display]|off]\n"
      "        | rule media|fullscreen|remote on|off [--display|--no-display]\n"
      "        | rule busy on|off [--net 100k] [--cpu 50] [--settle 2m] [--display|--no-display]\n"
      "        | rule schedule 'mon-fri 09:00-18:00'|on|off [--display|--no-display]\n"
      "        | usage [--json]\n"
      "        | hold [--display] -- COMMAND [ARGUMENT...]\n"
      "길이: 90m, 2h, 1h30m (7일까지)   시각: 18:30";

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

    if (verb == u"rule" && !arguments.isEmpty() && TriggerCommand::isTrigger(arguments.first())) {
        const QString name = arguments.takeFirst();
        const auto request = TriggerCommand::parse(name, arguments);
        if (!request) {
            complain(QStringLiteral("%1\n%2").arg(request.error(), QString::fromUtf8(usageText)));
            co_return usageError;
        }
        if (!hasSessionBus())
            co_return noSessionBus;
        if (!co_await reachAgent())
            co_return failure;
        co_return co_await TriggerCommand::run(*m_remote, request.value());
    }

    if (verb == u"rule") {
        std::optional<bool> onlyOnAC;
        std::optional<int> batteryFloor;
        std::optional<QString> application;
        bool display = false;
        if (arguments.size() >= 2 && arguments.first() == u"app" && arguments.at(1) != u"--display"
            && (arguments.size() == 2 || (arguments.size() == 3 && arguments.at(2) == u"--display"))) {
            application = arguments.at(1) == u"off" ? QString() : arguments.at(1);
            display = arguments.size() == 3;
            if (application->isEmpty() && display) {
                complain(QStringLiteral("app off에는 --display를 쓸 수 없습니다."));
                co_return usageError;
            }
        } else if (arguments.size() == 2 && arguments.first() == u"ac"
            && (arguments.at(1) == u"on" || arguments.at(1) == u"off")) {
            onlyOnAC = arguments.at(1) == u"on";
        } else if (arguments.size() == 2 && arguments.first() == u"battery") {
            QString level = arguments.at(1);
            if (level == u"off") {
                batteryFloor = 0;
            } else {
                if (level.endsWith(QLatin1Char('%')))
                    level.chop(1);
                bool isNumber = false;
                const int percent = level.toInt(&isNumber);
                if (!isNumber || percent < 1 || percent > 99) {
                    complain(QStringLiteral("배터리 하한은 1부터 99까지의 퍼센트이거나 off입니다: \"%1\"")
                                 .arg(arguments.at(1)));
                    co_return usageError;
                }
                batteryFloor = percent;
            }
        } else if (!arguments.isEmpty()) {
            complain(QStringLiteral("rule 다음에는 아무것도 없거나, ac on|off, battery 퍼센트|off, app 앱ID|off, 또는 "
                                    "media, fullscreen, remote, busy, schedule 규칙이 와야 합니다.\n%1")
                         .arg(QString::fromUtf8(usageText)));
            co_return usageError;
        }
        if (!hasSessionBus())
            co_return noSessionBus;
        co_return co_await rule(onlyOnAC, batteryFloor, application, display);
    }

    if (verb == u"lid") {
        const auto request = LidCommand::parse(arguments);
        if (!request) {
            complain(QStringLiteral("%1\n%2").arg(request.error(), QString::fromUtf8(usageText)));
            co_return usageError;
        }
        if (!hasSessionBus())
            co_return noSessionBus;
        if (!co_await reachAgent())
            co_return failure;
        co_return co_await LidCommand::run(*m_remote, request.value());
    }

    if (verb == u"on") {
        bool display = false;
        bool thenSuspend = false;
        std::optional<qint64> seconds;
        std::optional<QTime> until;
        while (!arguments.isEmpty()) {
            const auto [option, given] = CommandOutput::splitOption(arguments.takeFirst());
            QString value = given.value_or(QString());
            bool hasValue = given.has_value();
            if (option == u"--display" && !hasValue) {
                display = true;
                continue;
            }
            if (option == u"--then-suspend" && !hasValue) {
                thenSuspend = true;
                continue;
            }
            if (option != u"--for" && option != u"--until") {
                complain(QStringLiteral("알 수 없는 옵션: %1\n%2").arg(option, QString::fromUtf8(usageText)));
                co_return usageError;
            }
            if (seconds || until) {
                complain(QStringLiteral("--for와 --until은 한 번만, 둘 중 하나만 쓸 수 있습니다."));
                co_return usageError;
            }
            if (!hasValue) {
                if (arguments.isEmpty()) {
                    complain(
                        QStringLiteral("%1 다음에 값이 와야 합니다.\n%2").arg(option, QString::fromUtf8(usageText)));
                    co_return usageError;
                }
                value = arguments.takeFirst();
            }
            if (option == u"--for") {
                const auto parsed = SessionLength::parseDuration(value);
                if (!parsed) {
                    complain(parsed.error());
                    co_return usageError;
                }
                seconds = parsed.value();
            } else {
                const auto parsed = SessionLength::parseClockTime(value);
                if (!parsed) {
                    complain(parsed.error());
                    co_return usageError;
                }
                until = parsed.value();
            }
        }
        // Only a session that ends can end in sleep.
        if (thenSuspend && !seconds && !until) {
            complain(QStringLiteral("--then-suspend는 --for나 --until과 함께 씁니다.\n%1")
                         .arg(QString::fromUtf8(usageText)));
            co_return usageError;
        }
        if (!hasSessionBus())
            co_return noSessionBus;
        if (seconds)
            co_return co_await startTimed(display, seconds, std::nullopt, thenSuspend);
        if (until) {
            const QDateTime end
                = SessionLength::nextOccurrence(QDateTime::currentDateTimeUtc(), *until, QTimeZone::systemTimeZone());
            co_return co_await startTimed(display, std::nullopt, end, thenSuspend);
        }
        co_return co_await switchKinds(true, display);
    }

    const QStringList allowed = verb == u"off" || verb == u"toggle" ? QStringList{ QStringLiteral("--display") }
        : verb == u"usage" || verb == u"status"                     ? QStringList{ QStringLiteral("--json") }
                                                                    : QStringList{};
    if (verb != u"status" && verb != u"off" && verb != u"toggle" && verb != u"usage") {
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
        co_return co_await status(flag);
    if (verb == u"usage")
        co_return co_await usage(flag);
    if (verb == u"toggle")
        co_return co_await toggle(flag);
    co_return co_await switchKinds(false, flag);
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

QCoro::Task<int> WakoraCommand::status(bool json)
{
    bool reached = m_bus.interface()->isServiceRegistered(MenuBarService::machServiceName()).value();
    if (reached)
        reached = co_await connect();
    if (!reached) {
        if (json)
            complain(QStringLiteral("메뉴바 앱이 실행 중이 아닙니다."));
        else
            say(QStringLiteral("메뉴바 앱이 실행 중이 아닙니다."));
        co_return agentNotRunning;
    }
    const auto session = co_await m_remote->timedSession();
    if (!session) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(session.error()));
        co_return failure;
    }
    const auto rules = co_await m_remote->rules();
    if (!rules) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(rules.error()));
        co_return failure;
    }
    const auto watched = co_await m_remote->whileApplication();
    if (!watched) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(watched.error()));
        co_return failure;
    }
    const auto claimed = co_await m_remote->claims();
    if (!claimed) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(claimed.error()));
        co_return failure;
    }
    const auto lidGuards = co_await m_remote->lidGuards();
    if (!lidGuards) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(lidGuards.error()));
        co_return failure;
    }
    const auto triggers = co_await m_remote->triggers();
    if (!triggers) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(triggers.error()));
        co_return failure;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<Claim> claims = ClaimRecord::claims(claimed.value().claims);
    const std::optional<QDateTime> endsAt = session.value().endsAt;
    const qint64 left = endsAt ? std::max<qint64>(now.secsTo(*endsAt), 0) : 0;

    if (json) {
        QJsonObject timed;
        if (endsAt) {
            QJsonArray kinds;
            if (session.value().kinds & assertionBit(AssertionKind::systemSleep))
                kinds.append(QStringLiteral("systemSleep"));
            if (session.value().kinds & assertionBit(AssertionKind::displaySleep))
                kinds.append(QStringLiteral("displaySleep"));
            timed = QJsonObject{ { QStringLiteral("kinds"), kinds },
                { QStringLiteral("endsAt"), referenceSeconds(endsAt) }, { QStringLiteral("remainingSeconds"), left },
                { QStringLiteral("thenSuspend"), session.value().thenSuspend } };
        }
        QJsonArray why;
        for (const Claim &claim : claims) {
            why.append(QJsonObject{ { QStringLiteral("owner"), claim.owner },
                { QStringLiteral("kinds"), kindNames(claim.kinds) },
                { QStringLiteral("endsAt"), referenceSeconds(claim.endsAt) },
                { QStringLiteral("subject"), claim.subject.isEmpty() ? QJsonValue() : QJsonValue(claim.subject) },
                { QStringLiteral("text"), ClaimTexts::of(claim, now) } });
        }
        const StatusInhibitors inhibitors = co_await readInhibitors();
        // Times as everywhere in Wakora's JSON: seconds since 2001-01-01 UTC.
        const QJsonObject object{
            { QStringLiteral("systemSleep"), m_remote->isEnabled(AssertionKind::systemSleep) },
            { QStringLiteral("displaySleep"), m_remote->isEnabled(AssertionKind::displaySleep) },
            // Asked for, but no service holds them now: they come back on their own.
            { QStringLiteral("waiting"),
                QJsonObject{ { QStringLiteral("systemSleep"), m_remote->isWaiting(AssertionKind::systemSleep) },
                    { QStringLiteral("displaySleep"), m_remote->isWaiting(AssertionKind::displaySleep) } } },
            { QStringLiteral("activeSince"), referenceSeconds(m_remote->activeSince()) },
            { QStringLiteral("timedSession"), endsAt ? QJsonValue(timed) : QJsonValue() },
            // What keeps the machine awake, and what forbids it now.
            { QStringLiteral("claims"), why },
            { QStringLiteral("vetoes"), QJsonArray::fromStringList(claimed.value().vetoes) },
            { QStringLiteral("rules"),
                QJsonObject{ { QStringLiteral("onlyOnAC"), rules.value().onlyOnAC },
                    { QStringLiteral("batteryFloor"), rules.value().batteryFloor },
                    { QStringLiteral("whileApplication"),
                        watched.value().application.isEmpty() ? QJsonValue()
                                                              : QJsonValue(watched.value().application) } } },
            // Each trigger's rule, whether it can work here, and what it watches now.
            { QStringLiteral("triggers"), TriggerCommand::json(triggers.value()) },
            { QStringLiteral("clamshell"), m_remote->clamshellMode() },
            { QStringLiteral("lidGuards"), LidCommand::guardJson(lidGuards.value()) },
            { QStringLiteral("agentPID"), m_remote->ownerPID() },
            { QStringLiteral("inhibitors"), inhibitors.json },
        };
        std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).constData(), stdout);
        std::fputs("\n", stdout);
        co_return success;
    }

    say(QStringLiteral("잠자기 방지: %1").arg(onOff(m_remote->isEnabled(AssertionKind::systemSleep))));
    say(QStringLiteral("디스플레이 켜 두기: %1").arg(onOff(m_remote->isEnabled(AssertionKind::displaySleep))));
    if (!claims.isEmpty()) {
        QStringList reasons;
        for (const Claim &claim : claims)
            reasons.append(ClaimTexts::of(claim, now));
        say(QStringLiteral("켜 둔 이유: %1").arg(reasons.join(QStringLiteral(", "))));
    }
    for (const QString &veto : claimed.value().vetoes)
        say(QStringLiteral("꺼 둔 이유: %1").arg(veto));
    for (const QString &notice : HoldNotices::of(*m_remote))
        say(notice);
    if (const auto since = m_remote->activeSince()) {
        const qint64 elapsed = std::max<qint64>(since->secsTo(now), 0);
        say(QStringLiteral("켜진 시각: %1 (%2)").arg(since->toLocalTime().toString(Qt::ISODate), duration(elapsed)));
    }
    if (endsAt)
        say(QStringLiteral("끝나는 시각: %1 (%2)%3")
                .arg(endsAt->toLocalTime().toString(Qt::ISODate), remaining(left),
                    thenSuspendText(session.value().thenSuspend)));
    say(ruleLines(rules.value(), watched.value()));
    for (const QString &line : TriggerCommand::lines(triggers.value()))
        say(line);
    say(QStringLiteral("덮개를 닫아도 유지: %1").arg(LidCommand::modeText(m_remote->clamshellMode())));
    for (const QString &line : LidCommand::guardLines(lidGuards.value()))
        say(line);
    say(QStringLiteral("메뉴바 앱: pid %1").arg(m_remote->ownerPID()));
    const StatusInhibitors inhibitors = co_await readInhibitors();
    for (const QString &line : inhibitors.lines)
        say(line);
    co_return success;
}

QCoro::Task<StatusInhibitors> WakoraCommand::readInhibitors()
{
    return StatusInhibitors::read(QDBusConnection::systemBus(), m_bus, m_remote->ownerPID());
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

QCoro::Task<int> WakoraCommand::toggle(bool display)
{
    if (!co_await reachAgent())
        co_return failure;
    // System sleep decides: a switch flips it, and the display follows.
    const bool enabled = !m_remote->isEnabled(AssertionKind::systemSleep);
    const int status = co_await switchKinds(enabled, display);
    if (status == success)
        say(QStringLiteral("잠자기 방지: %1").arg(onOff(enabled)));
    co_return status;
}

QCoro::Task<int> WakoraCommand::rule(
    std::optional<bool> onlyOnAC, std::optional<int> batteryFloor, std::optional<QString> application, bool display)
{
    if (!co_await reachAgent())
        co_return failure;
    const auto current = co_await m_remote->rules();
    if (!current) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(current.error()));
        co_return failure;
    }
    RemoteMenuBar::Rules rules = current.value();
    if (onlyOnAC || batteryFloor) {
        if (onlyOnAC)
            rules.onlyOnAC = *onlyOnAC;
        if (batteryFloor)
            rules.batteryFloor = *batteryFloor;
        const auto stored = co_await m_remote->setRules(rules);
        if (!stored) {
            complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(stored.error()));
            co_return failure;
        }
    }
    if (application) {
        const qint64 kinds = assertionBit(AssertionKind::systemSleep)
            | (display ? assertionBit(AssertionKind::displaySleep) : qint64(0));
        const auto stored = co_await m_remote->setWhileApplication(*application, kinds);
        if (!stored) {
            complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(stored.error()));
            co_return failure;
        }
    }
    const auto watched = co_await m_remote->whileApplication();
    if (!watched) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(watched.error()));
        co_return failure;
    }
    say(ruleLines(rules, watched.value()));
    // The whole list only when asked for it; a change shows what it changed.
    if (!onlyOnAC && !batteryFloor && !application) {
        const auto triggers = co_await m_remote->triggers();
        if (!triggers) {
            complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(triggers.error()));
            co_return failure;
        }
        for (const QString &line : TriggerCommand::lines(triggers.value()))
            say(line);
    }
    co_return success;
}

QCoro::Task<int> WakoraCommand::startTimed(
    bool display, std::optional<qint64> seconds, std::optional<QDateTime> end, bool thenSuspend)
{
    if (!co_await reachAgent())
        co_return failure;
    const qint64 kinds
        = assertionBit(AssertionKind::systemSleep) | (display ? assertionBit(AssertionKind::displaySleep) : qint64(0));
    Expected<void, QString> started;
    if (seconds)
        started = co_await m_remote->startTimedSession(kinds, *seconds, thenSuspend);
    else
        started = co_await m_remote->startTimedSessionUntil(kinds, *end, thenSuspend);
    if (!started) {
        complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(started.error()));
        co_return failure;
    }
    const auto session = co_await m_remote->timedSession();
    if (session && session.value().endsAt) {
        const QDateTime endsAt = *session.value().endsAt;
        say(QStringLiteral("잠자기 방지: 켜짐, %1까지 (%2)%3")
                .arg(endsAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                    remaining(std::max<qint64>(QDateTime::currentDateTimeUtc().secsTo(endsAt), 0)),
                    thenSuspendText(session.value().thenSuspend)));
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
    qint64 kinds = assertionBit(AssertionKind::systemSleep);
    if (display)
        kinds |= assertionBit(AssertionKind::displaySleep);
    const QString program = command.first();

    // A claim of this command's own: what other claims keep on stays on
    // after it, and should this process die, its connection's end gives the
    // kinds back.
    const auto held = co_await m_remote->hold(kinds, QFileInfo(program).fileName());
    if (!held) {
        complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(held.error()));
        co_return failure;
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
    command.removeFirst();
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

    if (const auto released = co_await m_remote->release(); !released)
        complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(released.error()));
    co_return status;
}
