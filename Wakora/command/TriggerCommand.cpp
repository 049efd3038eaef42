#include "TriggerCommand.h"

#include "AssertionKind.h"
#include "ClaimTexts.h"
#include "CommandOutput.h"
#include "RemoteMenuBar.h"
#include "TriggerOptions.h"
#include "WakoraCommand.h"

#include <QJsonObject>

namespace {

using CommandOutput::complain;
using CommandOutput::kindNames;
using CommandOutput::say;

} // namespace

bool TriggerCommand::isTrigger(const QString &word)
{
    return TriggerOptions::names().contains(word);
}

Expected<TriggerCommand::Request, QString> TriggerCommand::parse(const QString &name, QStringList arguments)
{
    Request request;
    request.name = name;
    if (arguments.isEmpty()) {
        if (name == u"schedule")
            return Unexpected(QStringLiteral("rule schedule 다음에는 일정(예: 'mon-fri 09:00-18:00'), on 또는 off가 "
                                             "와야 합니다."));
        return Unexpected(QStringLiteral("rule %1 다음에는 on 또는 off가 와야 합니다.").arg(name));
    }
    const QString state = arguments.takeFirst();
    if (state == u"on" || state == u"off") {
        request.enabled = state == u"on";
    } else if (name == u"schedule" && !state.startsWith(u"--")) {
        request.enabled = true;
        request.options.insert(TriggerOptions::scheduleKey(), state.simplified());
    } else if (name == u"schedule") {
        return Unexpected(QStringLiteral("rule schedule 다음에는 일정(예: 'mon-fri 09:00-18:00'), on 또는 off가 와야 "
                                         "합니다."));
    } else {
        return Unexpected(QStringLiteral("rule %1 다음에는 on 또는 off가 와야 합니다: \"%2\"").arg(name, state));
    }

    while (!arguments.isEmpty()) {
        const auto [option, given] = CommandOutput::splitOption(arguments.takeFirst());
        QString value = given.value_or(QString());
        bool hasValue = given.has_value();
        if (!request.enabled)
            return Unexpected(QStringLiteral("%1 off에는 옵션을 쓸 수 없습니다: %2").arg(name, option));
        if ((option == u"--display" || option == u"--no-display") && !hasValue) {
            const qint64 kinds = option == u"--display" ? 3 : 1;
            if (request.kinds && *request.kinds != kinds)
                return Unexpected(QStringLiteral("--display와 --no-display는 함께 쓸 수 없습니다."));
            request.kinds = kinds;
            continue;
        }
        const bool busyOption = option == u"--net" || option == u"--cpu" || option == u"--settle";
        if (!busyOption)
            return Unexpected(QStringLiteral("알 수 없는 옵션: %1").arg(option));
        if (name != u"busy")
            return Unexpected(QStringLiteral("%1은(는) busy에만 쓸 수 있습니다.").arg(option));
        if (!hasValue) {
            if (arguments.isEmpty())
                return Unexpected(QStringLiteral("%1 다음에 값이 와야 합니다.").arg(option));
            value = arguments.takeFirst();
        }
        const auto parsed = option == u"--net" ? TriggerOptions::parseRate(value)
            : option == u"--cpu"               ? TriggerOptions::parsePercent(value)
                                               : TriggerOptions::parseSettle(value);
        if (!parsed)
            return Unexpected(parsed.error());
        const QString key = option == u"--net" ? TriggerOptions::netKey()
            : option == u"--cpu"               ? TriggerOptions::cpuKey()
                                               : TriggerOptions::settleKey();
        request.options.insert(key, parsed.value());
    }
    return request;
}

QCoro::Task<int> TriggerCommand::run(RemoteMenuBar &remote, Request request)
{
    const auto current = co_await remote.triggers();
    if (!current) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(current.error()));
        co_return WakoraCommand::failure;
    }
    const auto found = std::find_if(current.value().cbegin(), current.value().cend(),
        [&request](const TriggerRecord &trigger) { return trigger.name == request.name; });
    if (found == current.value().cend()) {
        complain(QStringLiteral("알 수 없는 규칙: %1 (이 메뉴바 앱에는 이 규칙이 없습니다)").arg(request.name));
        co_return WakoraCommand::failure;
    }
    QVariantMap options = found->options;
    for (auto it = request.options.cbegin(); it != request.options.cend(); ++it)
        options.insert(it.key(), it.value());
    // On without a word on the display: the trigger's own kinds.
    const qint64 kinds = request.kinds.value_or(request.enabled ? 0 : found->kinds);
    const auto stored = co_await remote.setTrigger(request.name, request.enabled, kinds, options);
    if (!stored) {
        complain(QStringLiteral("설정을 변경하지 못했습니다. (%1)").arg(stored.error()));
        co_return WakoraCommand::failure;
    }
    const auto after = co_await remote.triggers();
    if (!after) {
        complain(QStringLiteral("상태를 조회하지 못했습니다. (%1)").arg(after.error()));
        co_return WakoraCommand::failure;
    }
    for (const TriggerRecord &trigger : after.value()) {
        if (trigger.name == request.name)
            say(line(trigger));
    }
    co_return WakoraCommand::success;
}

QString TriggerCommand::line(const TriggerRecord &trigger)
{
    QString text = QStringLiteral("%1 (%2): %3")
                       .arg(ClaimTexts::triggerLabel(trigger.name), trigger.name,
                           trigger.enabled ? QStringLiteral("켜짐") : QStringLiteral("꺼짐"));
    if (trigger.kinds & assertionBit(AssertionKind::displaySleep))
        text += QStringLiteral(" (디스플레이 포함)");
    if (const QString options = TriggerOptions::optionsText(trigger.options); !options.isEmpty())
        text += QStringLiteral(", %1").arg(options);
    if (!trigger.unavailable.isEmpty())
        text += QStringLiteral(" — 사용할 수 없음: %1").arg(trigger.unavailable);
    else if (trigger.active)
        text += QStringLiteral(" — 지금: %1").arg(ClaimTexts::triggerText(trigger.name, trigger.subject));
    return text;
}

QStringList TriggerCommand::lines(const QList<TriggerRecord> &triggers)
{
    QStringList lines;
    for (const TriggerRecord &trigger : triggers)
        lines.append(line(trigger));
    return lines;
}

QJsonArray TriggerCommand::json(const QList<TriggerRecord> &triggers)
{
    QJsonArray array;
    for (const TriggerRecord &trigger : triggers) {
        array.append(QJsonObject{
            { QStringLiteral("name"), trigger.name },
            { QStringLiteral("enabled"), trigger.enabled },
            { QStringLiteral("kinds"), kindNames(trigger.kinds) },
            { QStringLiteral("options"), QJsonObject::fromVariantMap(trigger.options) },
            { QStringLiteral("unavailable"),
                trigger.unavailable.isEmpty() ? QJsonValue() : QJsonValue(trigger.unavailable) },
            { QStringLiteral("active"), trigger.active },
            { QStringLiteral("subject"), trigger.active ? QJsonValue(trigger.subject) : QJsonValue() },
        });
    }
    return array;
}
