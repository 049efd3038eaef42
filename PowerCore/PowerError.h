#pragma once

#include <QString>
#include <QtGlobal>

// A refused creation or release of an assertion, with the backend's status.
struct PowerError {
    enum class Case {
        assertionCreateFailed,
        assertionReleaseFailed,
    };

    Case which;
    qint32 code;

    static PowerError assertionCreateFailed(qint32 code) { return { Case::assertionCreateFailed, code }; }
    static PowerError assertionReleaseFailed(qint32 code) { return { Case::assertionReleaseFailed, code }; }

    // The text form, which is also what crosses to the main application:
    // "assertionCreateFailed(code: 5)". There is no translated message.
    QString errorDescription() const;

    bool operator==(const PowerError &) const = default;
};
