#pragma once

#include "ClamshellState.h"

#include <QStringList>

// What the launch arguments ask of the fixture mode: canned collaborators
// instead of the agent, for interface tests and screenshots.
struct FixtureMode {
    enum class Status { sample, empty, flaky };
    enum class History { sample, empty, screenshots };

    bool offline = false; // "--menubar-off"
    Status status = Status::sample; // "--status-empty", "--status-flaky"
    ClamshellState clamshell; // "--clamshell-approval", "--clamshell-not-found", "--clamshell-system"
    History history = History::sample; // "--history-empty", "--screenshots"

    // Absent without "--ui-testing".
    static std::optional<FixtureMode> fromArguments(const QStringList &arguments);

    bool operator==(const FixtureMode &) const = default;
};
