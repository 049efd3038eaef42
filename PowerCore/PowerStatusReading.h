#pragma once

#include "Expected.h"
#include "PowerSetting.h"
#include "PowerStatusError.h"
#include "ProcessAssertion.h"

#include <QCoroTask>
#include <QList>

// Who keeps the machine awake, and the power-management settings. Both
// queries may run concurrently and never block the interface thread.
class PowerStatusReading
{
public:
    virtual ~PowerStatusReading() = default;

    virtual QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> assertions() = 0;
    virtual QCoro::Task<Expected<QList<PowerSetting>, PowerStatusError>> settings() = 0;
};
