#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

// One power assertion (inhibitor) held by some process, as the system lists it.
struct ProcessAssertion {
    qint32 pid = 0;
    QString type; // e.g. "sleep", "idle", "sleep:idle"
    QString reason; // empty when the holder gave none
    std::optional<QString> processName;

    bool operator==(const ProcessAssertion &) const = default;
};

inline size_t qHash(const ProcessAssertion &assertion, size_t seed = 0)
{
    return qHashMulti(seed, assertion.pid, assertion.type, assertion.reason, assertion.processName.value_or(QString()),
        assertion.processName.has_value());
}
