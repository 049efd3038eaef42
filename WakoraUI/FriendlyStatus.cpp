#include "FriendlyStatus.h"

#include "InterfaceLocale.h"
#include "RunningApplicationReading.h"

#include <QCollator>
#include <QCoreApplication>

#include <algorithm>
#include <map>

FriendlyStatus FriendlyStatus::build(
    const QList<ProcessAssertion> &assertions, qint32 ownerPID, const NameLookup &appName)
{
    // Ordered by pid; within a process, in order of appearance.
    std::map<qint32, QList<const ProcessAssertion *>> groups;
    for (const ProcessAssertion &assertion : assertions)
        groups[assertion.pid].append(&assertion);

    FriendlyStatus status;
    for (const auto &[pid, group] : groups) {
        std::optional<QString> name;
        if (pid == ownerPID)
            name = QCoreApplication::translate("WakoraUI", "이 앱");
        else if (appName)
            name = appName(pid);

        if (!name) {
            const std::optional<QString> &processName = group.first()->processName;
            status.systemProcesses.append(processName && !processName->isEmpty()
                    ? *processName
                    : QCoreApplication::translate("WakoraUI", "알 수 없는 프로세스"));
            continue;
        }

        FriendlyApp app{ pid, *name, false, {} };
        for (const ProcessAssertion *assertion : group) {
            app.keepsDisplayOn = app.keepsDisplayOn || assertionTypeKeepsDisplayOn(assertion->type);
            if (!assertion->reason.isEmpty())
                app.reasons.append(assertion->reason);
        }
        app.reasons.removeDuplicates();
        std::sort(app.reasons.begin(), app.reasons.end());
        status.apps.append(app);
    }

    QCollator collator(interfaceLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(status.apps.begin(), status.apps.end(),
        [&collator](const FriendlyApp &a, const FriendlyApp &b) { return collator.compare(a.name, b.name) < 0; });

    status.systemProcesses.removeDuplicates();
    std::sort(status.systemProcesses.begin(), status.systemProcesses.end());
    return status;
}

FriendlyStatus::NameLookup FriendlyStatus::applicationNames(RunningApplicationReading &applications)
{
    return [&applications](qint32 pid) -> std::optional<QString> {
        const std::optional<RunningApplication> application = applications.application(pid);
        if (!application || !application->isRegular || !application->localizedName
            || application->localizedName->isEmpty())
            return std::nullopt;
        return application->localizedName;
    };
}
