#pragma once

#include "ClamshellServicing.h"

// The fixture mode's lid-closed service, starting in the state the launch
// arguments chose. Switching works once the helper is usable: an
// unregistered helper registers on the first switch-on, one that needs
// approval or cannot be found refuses.
class UITestClamshellService : public ClamshellServicing
{
public:
    explicit UITestClamshellService(ClamshellState initial);

    QCoro::Task<ClamshellState> currentState() override;
    QCoro::Task<Expected<ClamshellState, QString>> setEnabled(bool enabled) override;
    void openSettings() override;

    int settingsOpened() const { return m_settingsOpened; }

private:
    ClamshellState m_state;
    int m_settingsOpened = 0;
};
