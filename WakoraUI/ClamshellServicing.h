#pragma once

#include "ClamshellState.h"
#include "Expected.h"

#include <QCoroTask>
#include <QString>

#include <functional>

// The service behind the lid-closed controller: the helper's client in the
// agent, the agent's client in the main application.
class ClamshellServicing
{
public:
    virtual ~ClamshellServicing() = default;

    // Called, on the main thread, after a connection that had worked is lost.
    std::function<void()> onConnectionLost;

    // Never fails: an unreachable service reports (notRegistered, off).
    virtual QCoro::Task<ClamshellState> currentState() = 0;
    // The state after the change, or the failure's description.
    virtual QCoro::Task<Expected<ClamshellState, QString>> setEnabled(bool enabled) = 0;
    // Opens the place where the user can approve the helper.
    virtual void openSettings() = 0;
};
