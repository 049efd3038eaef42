#include "FixtureMode.h"

std::optional<FixtureMode> FixtureMode::fromArguments(const QStringList &arguments)
{
    if (!arguments.contains(QLatin1String("--ui-testing")))
        return std::nullopt;
    FixtureMode mode;
    mode.offline = arguments.contains(QLatin1String("--menubar-off"));
    if (arguments.contains(QLatin1String("--status-empty")))
        mode.status = Status::empty;
    else if (arguments.contains(QLatin1String("--status-flaky")))
        mode.status = Status::flaky;
    if (arguments.contains(QLatin1String("--clamshell-approval")))
        mode.clamshell = { ClamshellApproval::requiresApproval, ClamshellActivation::off };
    else if (arguments.contains(QLatin1String("--clamshell-not-found")))
        mode.clamshell = { ClamshellApproval::notFound, ClamshellActivation::off };
    else if (arguments.contains(QLatin1String("--clamshell-system")))
        mode.clamshell = { ClamshellApproval::enabled, ClamshellActivation::onOutsideApp };
    else
        mode.clamshell = { ClamshellApproval::notRegistered, ClamshellActivation::off };
    if (arguments.contains(QLatin1String("--history-empty")))
        mode.history = History::empty;
    else if (arguments.contains(QLatin1String("--screenshots")))
        mode.history = History::screenshots;
    return mode;
}
