#include "UITestPowerStatus.h"

UITestPowerStatus::UITestPowerStatus(FixtureMode::Status mode, qint32 ownPID, HeldKinds isHeld)
    : m_mode(mode)
    , m_ownPID(ownPID)
    , m_isHeld(std::move(isHeld))
{ }

QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> UITestPowerStatus::assertions()
{
    ++m_queries;
    if (m_mode == FixtureMode::Status::flaky && m_queries == 1)
        co_return Unexpected(PowerStatusError::assertionQueryFailed(-5));
    if (m_mode == FixtureMode::Status::empty)
        co_return QList<ProcessAssertion>();
    QList<ProcessAssertion> sample = {
        { videoPlayerPID, QStringLiteral("idle"), QStringLiteral("Playing video"), QStringLiteral("totem") },
        { backupPID, QStringLiteral("sleep"), QStringLiteral("Backing up home"), QStringLiteral("restic") },
        { lidHandlerPID, QStringLiteral("handle-lid-switch"), QStringLiteral("GNOME handling"),
            QStringLiteral("gsd-power") },
    };
    for (const AssertionKind kind : allAssertionKinds) {
        if (m_isHeld && m_isHeld(kind))
            sample.append({ m_ownPID, assertionType(kind), assertionName(kind), QStringLiteral("Wakora") });
    }
    co_return sample;
}

QCoro::Task<Expected<QList<PowerSetting>, PowerStatusError>> UITestPowerStatus::settings()
{
    const QString section = QStringLiteral("Currently in use");
    QList<PowerSetting> sample = {
        { section, QStringLiteral("sleep"), QStringLiteral("10") },
        { section, QStringLiteral("displaysleep"), QStringLiteral("5") },
        { section, QStringLiteral("disksleep"), QStringLiteral("0") },
        { section, QStringLiteral("powernap"), QStringLiteral("1") },
        { section, QStringLiteral("womp"), QStringLiteral("0") },
    };
    co_return sample;
}
