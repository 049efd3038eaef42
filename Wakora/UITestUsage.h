#pragma once

#include "FixtureMode.h"
#include "UsageHistoryReading.h"

#include <QDate>

// The fixture mode's usage history: a sample week ending today, an empty
// one, or, for screenshots, a fixed week that does not change from run to
// run. Clearing empties it.
class UITestUsage : public UsageHistoryReading
{
public:
    explicit UITestUsage(FixtureMode::History mode, QDate today = QDate::currentDate());

    QCoro::Task<Expected<UsageSummary, QString>> summary() override;
    QCoro::Task<Expected<void, QString>> clear() override;

    // The last day of the screenshots' week.
    static QDate screenshotsDate() { return QDate(2026, 12, 6); }

private:
    UsageSummary m_summary;
};
