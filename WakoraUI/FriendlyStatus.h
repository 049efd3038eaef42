#pragma once

#include "FriendlyApp.h"
#include "ProcessAssertion.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

class RunningApplicationReading;

// Who keeps the machine awake, in plain words: the applications, and the
// names of the other (system) processes.
struct FriendlyStatus {
    QList<FriendlyApp> apps; // by name, as the desktop sorts file names
    QStringList systemProcesses; // distinct, sorted

    // The application name of a process, or none when it is not an application.
    using NameLookup = std::function<std::optional<QString>(qint32 pid)>;

    // Groups the assertions by process. The owner's process (the one holding
    // this system's own assertions) is always the app "이 앱"; a process the
    // lookup names is an app of that name; any other is a system process,
    // named after its first assertion's process name.
    static FriendlyStatus build(const QList<ProcessAssertion> &assertions, qint32 ownerPID, const NameLookup &appName);

    // The lookup over the running applications: only a regular application
    // with a non-empty localized name has a name. The directory must outlive it.
    static NameLookup applicationNames(RunningApplicationReading &applications);

    bool operator==(const FriendlyStatus &) const = default;
};
