#pragma once

#include <QString>

// The helper's own failures, as the texts its caller is shown.
class HelperError
{
public:
    HelperError() = delete;

    static QString exited(int status) { return QStringLiteral("pmset exited with %1").arg(status); }
    // Not a status the command chose: a crash must never read as success.
    static QString killed(int signal) { return QStringLiteral("pmset was ended by signal %1").arg(signal); }
};
