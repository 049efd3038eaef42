#pragma once

#include "ClamshellServicing.h"

// A lid-closed service that answers with what the test sets; setEnabled()
// fails while `failure` is set and counts what it was asked.
class ScriptedClamshellService : public ClamshellServicing
{
public:
    ClamshellState current{ ClamshellApproval::enabled, ClamshellActivation::off };
    std::optional<QString> failure;
    int stateQueries = 0;
    int switchRequests = 0;
    int opened = 0;

    QCoro::Task<ClamshellState> currentState() override
    {
        ++stateQueries;
        co_return current;
    }
    QCoro::Task<Expected<ClamshellState, QString>> setEnabled(bool enabled) override
    {
        ++switchRequests;
        if (failure)
            co_return Unexpected(*failure);
        current.activation = enabled ? ClamshellActivation::ownedByApp : ClamshellActivation::off;
        co_return current;
    }
    void openSettings() override { ++opened; }
};
