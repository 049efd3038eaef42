#pragma once

#include "Expected.h"

#include <QString>

// Whether the file a process was started from has since been replaced (an
// upgrade renames a new file over it): /proc/PID/exe then names the path
// with " (deleted)", or the path now holds a file other than the one
// running. Answers the path of the new file, or why there is none.
class ProgramReplacement
{
public:
    ProgramReplacement() = delete;

    static Expected<QString, QString> check(const QString &executableLink = QStringLiteral("/proc/self/exe"));
};
