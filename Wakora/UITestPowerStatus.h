#pragma once

#include "AssertionKind.h"
#include "FixtureMode.h"
#include "PowerStatusReading.h"

#include <functional>

// The fixture mode's processes and power settings: a video player keeping the
// display on, a backup job, and this process holding what its switches hold;
// or none; or a first query that fails once before the same answer.
class UITestPowerStatus : public PowerStatusReading
{
public:
    // `isHeld` tells which kinds this process holds now.
    using HeldKinds = std::function<bool(AssertionKind)>;

    // The other processes' ids: above any a Linux process can have (the
    // kernel's limit is 2^22), so that none is ever this process's own and
    // shown as "이 앱".
    static constexpr qint32 videoPlayerPID = 4194304 + 2140;
    static constexpr qint32 backupPID = 4194304 + 455;
    static constexpr qint32 lidHandlerPID = 4194304 + 901;

    UITestPowerStatus(FixtureMode::Status mode, qint32 ownPID, HeldKinds isHeld);

    QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> assertions() override;
    QCoro::Task<Expected<QList<PowerSetting>, PowerStatusError>> settings() override;

    int assertionQueries() const { return m_queries; }

private:
    FixtureMode::Status m_mode;
    qint32 m_ownPID;
    HeldKinds m_isHeld;
    int m_queries = 0;
};
