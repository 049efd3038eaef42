#include "StatusInhibitors.h"

#include "FriendlyStatus.h"
#include "InhibitorEntry.h"
#include "SystemPowerStatus.h"
#include "SystemRunningApplications.h"

#include <QJsonArray>

QCoro::Task<StatusInhibitors> StatusInhibitors::read(
    QDBusConnection systemBus, QDBusConnection sessionBus, qint32 agentPID)
{
    const auto applications = std::make_shared<SystemRunningApplications>();
    SystemPowerStatus reader(std::move(systemBus), std::move(sessionBus), applications);
    const auto assertions = co_await reader.assertions();
    StatusInhibitors report;
    if (!assertions) {
        report.lines.append(QStringLiteral("지금 잠자기를 막는 앱: 상태를 조회하지 못했습니다. (%1)")
                                .arg(assertions.error().errorDescription()));
        report.json = QJsonValue(QJsonValue::Null);
        co_return report;
    }
    const FriendlyStatus::NameLookup names = FriendlyStatus::applicationNames(*applications);
    const FriendlyStatus status = FriendlyStatus::build(assertions.value(), agentPID, names);
    const QList<InhibitorEntry> entries = InhibitorEntry::fromAssertions(assertions.value(), agentPID, names);

    report.lines.append(status.apps.isEmpty() ? QStringLiteral("지금 잠자기를 막는 앱: 없음")
                                              : QStringLiteral("지금 잠자기를 막는 앱:"));
    for (const FriendlyApp &app : status.apps) {
        report.lines.append(QStringLiteral("  %1 — %2 (pid %3)").arg(app.name, app.activityText()).arg(app.pid));
        for (const InhibitorEntry &entry : entries) {
            if (entry.pid != app.pid)
                continue;
            report.lines.append(entry.reason.isEmpty()
                    ? QStringLiteral("    %1").arg(entry.blocksText())
                    : QStringLiteral("    %1: %2").arg(entry.blocksText(), entry.reason));
        }
    }
    if (!status.systemProcesses.isEmpty())
        report.lines.append(
            QStringLiteral("시스템 프로세스: %1").arg(status.systemProcesses.join(QStringLiteral(", "))));

    QJsonArray array;
    for (const InhibitorEntry &entry : entries)
        array.append(entry.toJson());
    report.json = array;
    co_return report;
}
