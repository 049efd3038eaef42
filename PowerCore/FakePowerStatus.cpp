#include "FakePowerStatus.h"

FakePowerStatus::FakePowerStatus(AssertionsResult assertions, SettingsResult settings)
    : m_assertionsResult(std::move(assertions))
    , m_settingsResult(std::move(settings))
{ }

QCoro::Task<FakePowerStatus::AssertionsResult> FakePowerStatus::assertions()
{
    // QCoro moves from whatever co_return names, so hand it a copy, never the member.
    AssertionsResult answer = m_assertionsResult;
    co_return answer;
}

QCoro::Task<FakePowerStatus::SettingsResult> FakePowerStatus::settings()
{
    SettingsResult answer = m_settingsResult;
    co_return answer;
}
