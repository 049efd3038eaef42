#pragma once

#include "ClamshellServicing.h"

#include <functional>

// The lid-closed service while no helper can be reached from this agent:
// always (notFound, off); switching on fails with the reinstall message.
class UnavailableClamshellService : public ClamshellServicing
{
public:
    explicit UnavailableClamshellService(std::function<void()> openMainApplication);

    QCoro::Task<ClamshellState> currentState() override;
    QCoro::Task<Expected<ClamshellState, QString>> setEnabled(bool enabled) override;
    void openSettings() override;

private:
    std::function<void()> m_openMainApplication;
};
