#include "LidCommand.h"

#include "CommandOutput.h"
#include "RemoteMenuBar.h"
#include "WakoraCommand.h"

using CommandOutput::complain;
using CommandOutput::say;

namespace {

std::optional<bool> onOrOff(const QString &word)
{
    if (word == u"on")
        return true;
    if (word == u"off")
        return false;
    return std::nullopt;
}

const char guardUsage[] = "lid 다음에는 아무것도 없거나, on|off, 또는 guard [power on|off | bag 분|off | thermal "
                          "on|off]가 와야 합니다.";

} // namespace

Expected<LidCommand::Request, QString> LidCommand::parse(const QStringList &arguments)
{
    Request request;
    if (arguments.isEmpty())
        return request;
    if (arguments.size() == 1 && onOrOff(arguments.first())) {
        request.action = Request::Action::switchMode;
        request.enabled = *onOrOff(arguments.first());
        return request;
    }
    if (arguments.first() != u"guard" || arguments.size() == 2 || arguments.size() > 3)
        return Unexpected(QString::fromUtf8(guardUsage));
    if (arguments.size() == 1) {
        request.guardsOnly = true;
        return request;
    }
    const QString &guard = arguments.at(1);
    const QString &value = arguments.at(2);
    request.action = Request::Action::changeGuards;
    request.guardsOnly = true;
    if (guard == u"power" && onOrOff(value)) {
        request.powerRules = onOrOff(value);
    } else if (guard == u"thermal" && onOrOff(value)) {
        request.thermal = onOrOff(value);
    } else if (guard == u"bag") {
        if (value == u"off") {
            request.bagMinutes = 0;
        } else {
            QString minutes = value;
            if (minutes.endsWith(u'm'))
                minutes.chop(1);
            bool isNumber = false;
            const int number = minutes.toInt(&isNumber);
            if (!isNumber || number < 1 || !LidGuardRules::isValidBagMinutes(number))
                return Unexpected(QStringLiteral("분은 1부터 240까지이거나 off입니다: \"%1\"").arg(value));
            request.bagMinutes = number;
        }
    } else {
        return Unexpected(QString::fromUtf8(guardUsage));
    }
    return request;
}

QCoro::Task<int> LidCommand::run(RemoteMenuBar &remote, Request request)
{
    if (request.action == Request::Action::switchMode) {
        const auto state = co_await remote.setEnabled(request.enabled);
        if (!state) {
            // The agent's message already says what could not be changed, and why.
            complain(state.error());
            co_return WakoraCommand::failure;
        }
        say(QStringLiteral("덮개를 닫아도 유지: %1").arg(modeText(rawValue(state.value().activation))));
        if (request.enabled && state.value().activation == ClamshellActivation::onOutsideApp) {
            say(QStringLiteral("시스템에서 이미 켜져 있습니다. 이 앱은 이 설정을 변경하지 않습니다."));
        } else if (request.enabled && state.value().activation != ClamshellActivation::ownedByApp) {
            complain(QStringLiteral("덮개 설정을 변경하지 못했습니다. (헬퍼를 사용할 수 없습니다)"));
            co_return WakoraCommand::failure;
        }
        co_return WakoraCommand::success;
    }

    auto guards = co_await remote.lidGuards();
    if (!guards) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(guards.error()));
        co_return WakoraCommand::failure;
    }
    LidGuardRules rules = guards.value();
    if (request.action == Request::Action::changeGuards) {
        rules.powerRules = request.powerRules.value_or(rules.powerRules);
        rules.bagMinutes = request.bagMinutes.value_or(rules.bagMinutes);
        rules.thermal = request.thermal.value_or(rules.thermal);
        const auto stored = co_await remote.setLidGuards(rules);
        if (!stored) {
            complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(stored.error()));
            co_return WakoraCommand::failure;
        }
    }
    if (!request.guardsOnly)
        say(QStringLiteral("덮개를 닫아도 유지: %1").arg(modeText(remote.clamshellMode())));
    for (const QString &line : guardLines(rules))
        say(line);
    co_return WakoraCommand::success;
}

QString LidCommand::modeText(qint64 mode)
{
    return mode == 1 ? QStringLiteral("켜짐") : mode == 2 ? QStringLiteral("시스템에서 켜짐") : QStringLiteral("꺼짐");
}

QStringList LidCommand::guardLines(const LidGuardRules &guards)
{
    const auto onOff = [](bool on) { return on ? QStringLiteral("켜짐") : QStringLiteral("꺼짐"); };
    return {
        QStringLiteral("덮개 보호: 전원 조건 적용: %1").arg(onOff(guards.powerRules)),
        QStringLiteral("덮개 보호: 배터리로 닫힌 채 외부 디스플레이 없이: %1")
            .arg(guards.bagMinutes > 0 ? QStringLiteral("%1분 후 끔").arg(guards.bagMinutes)
                                       : QStringLiteral("끄지 않음")),
        QStringLiteral("덮개 보호: 과열되면 끔: %1").arg(onOff(guards.thermal)),
    };
}

QJsonObject LidCommand::guardJson(const LidGuardRules &guards)
{
    return QJsonObject{ { QStringLiteral("powerRules"), guards.powerRules },
        { QStringLiteral("bagMinutes"), guards.bagMinutes }, { QStringLiteral("thermal"), guards.thermal } };
}
