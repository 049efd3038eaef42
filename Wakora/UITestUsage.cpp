#include "UITestUsage.h"

namespace {

UsageSummary sampleWeek(QDate lastDay)
{
    const double hours[] = { 1.5, 3.25, 0, 5.2, 2.75, 0.5, 4 };
    UsageSummary summary;
    for (int day = 0; day < 7; ++day)
        summary.days.append({ lastDay.addDays(day - 6).startOfDay(), hours[day] * 3600 });
    summary.apps = { { QStringLiteral("Firefox"), 312 }, { QStringLiteral("비디오"), 95 },
        { QStringLiteral("Steam"), 20 }, { QStringLiteral("터미널"), 1 } };
    return summary;
}

} // namespace

UITestUsage::UITestUsage(FixtureMode::History mode, QDate today)
{
    switch (mode) {
    case FixtureMode::History::empty:
        break;
    case FixtureMode::History::sample:
        m_summary = sampleWeek(today);
        break;
    case FixtureMode::History::screenshots:
        m_summary = sampleWeek(screenshotsDate());
        break;
    }
}

QCoro::Task<Expected<UsageSummary, QString>> UITestUsage::summary()
{
    co_return UsageSummary(m_summary);
}

QCoro::Task<Expected<void, QString>> UITestUsage::clear()
{
    m_summary = {};
    co_return {};
}
