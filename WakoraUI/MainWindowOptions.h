#pragma once

#include <QCoroTask>

#include <functional>
#include <optional>

// How the main window reads and changes opening at login. Without them the
// window offers no such switch.
struct MainWindowOptions {
    // None when it is not known (the agent cannot be asked).
    std::function<QCoro::Task<std::optional<bool>>()> opensAtLogin;
    std::function<QCoro::Task<>(bool)> setOpensAtLogin;
};
