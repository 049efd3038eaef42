#pragma once

#include <QString>

// Why a power status query failed. It has no message of its own: its text
// form names the case and payload, e.g. "pmsetFailed(status: 1)".
struct PowerStatusError {
    enum class Case {
        assertionQueryFailed, // code: the query's status, 0 for an unusable answer
        pmsetLaunchFailed, // message: the launch error's description
        pmsetFailed, // code: the command's exit status
    };

    Case which = Case::assertionQueryFailed;
    qint32 code = 0;
    QString message;

    static PowerStatusError assertionQueryFailed(qint32 code) { return { Case::assertionQueryFailed, code, {} }; }
    static PowerStatusError pmsetLaunchFailed(QString message) { return { Case::pmsetLaunchFailed, 0, message }; }
    static PowerStatusError pmsetFailed(qint32 status) { return { Case::pmsetFailed, status, {} }; }

    QString errorDescription() const;

    bool operator==(const PowerStatusError &) const = default;
};
