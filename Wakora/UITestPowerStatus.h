#pragma once

#include "FixtureMode.h"
#include "PowerStatusReading.h"

// The fixture mode's processes and power settings: this process holding
// sleep, a video player keeping the display on and a backup job; or none;
// or a first query that fails once before the same answer.
class UITestPowerStatus : public PowerStatusReading
{
public:
    UITestPowerStatus(FixtureMode::Status mode, qint32 ownPID);

    QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> assertions() override;
    QCoro::Task<Expected<QList<PowerSetting>, PowerStatusError>> settings() override;

    int assertionQueries() const { return m_queries; }

private:
    FixtureMode::Status m_mode;
    qint32 m_ownPID;
    int m_queries = 0;
};
