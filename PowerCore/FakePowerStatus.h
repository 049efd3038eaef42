#pragma once

#include "PowerStatusReading.h"

// Canned answers: each query returns its stored list or fails with its
// stored error, and does nothing else.
class FakePowerStatus : public PowerStatusReading
{
public:
    using AssertionsResult = Expected<QList<ProcessAssertion>, PowerStatusError>;
    using SettingsResult = Expected<QList<PowerSetting>, PowerStatusError>;

    FakePowerStatus(AssertionsResult assertions, SettingsResult settings);

    QCoro::Task<AssertionsResult> assertions() override;
    QCoro::Task<SettingsResult> settings() override;

private:
    AssertionsResult m_assertionsResult;
    SettingsResult m_settingsResult;
};
