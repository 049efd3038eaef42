#pragma once

#include "Expected.h"
#include "LidGuardRules.h"

#include <QCoroTask>
#include <QJsonObject>
#include <QStringList>

#include <optional>

class RemoteMenuBar;

// The lid verbs of the wakora command:
//
//   wakora lid                        the mode and its guards
//   wakora lid on|off                 keep the machine awake with the lid closed, or not
//   wakora lid guard                  the guards
//   wakora lid guard power on|off     the power conditions end the mode too
//   wakora lid guard bag MINUTES|off  on battery, lid closed, no external display
//   wakora lid guard thermal on|off   a zone at its passive trip point ends it
class LidCommand
{
public:
    struct Request {
        enum class Action { show, switchMode, changeGuards };
        Action action = Action::show;
        bool enabled = false; // switchMode
        std::optional<bool> powerRules;
        std::optional<int> bagMinutes;
        std::optional<bool> thermal;
        bool guardsOnly = false; // "lid guard": the guards without the mode
    };

    // The arguments after "lid"; the usage error's text when they make no request.
    static Expected<Request, QString> parse(const QStringList &arguments);
    // Carries the request out through the agent; answers the exit status.
    static QCoro::Task<int> run(RemoteMenuBar &remote, Request request);

    // "켜짐", "시스템에서 켜짐", "꺼짐" for the mode's raw value.
    static QString modeText(qint64 mode);
    // The guards, a line each, for `wakora status` and `wakora lid`.
    static QStringList guardLines(const LidGuardRules &guards);
    static QJsonObject guardJson(const LidGuardRules &guards);
};
