#pragma once

#include "Expected.h"
#include "UsageSummary.h"

#include <QCoroTask>

// How the interface reads and erases the usage history. In the main
// application both travel to the agent, so both may fail; the failure is the
// text the interface wraps into its message.
class UsageHistoryReading
{
public:
    virtual ~UsageHistoryReading() = default;

    // The last 7 days and the 5 applications with the most minutes.
    virtual QCoro::Task<Expected<UsageSummary, QString>> summary() = 0;
    virtual QCoro::Task<Expected<void, QString>> clear() = 0;
};
