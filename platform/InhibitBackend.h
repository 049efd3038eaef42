#pragma once

#include "AssertionKind.h"
#include "Expected.h"
#include "Inhibitor.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

// One service that can hold an inhibit for us: the session manager, the
// session's power and screen-saver services, the desktop portal or logind.
// Its calls are awaited; none touches the backend after its first wait, so
// a backend may go away while one of them is still running.
class InhibitBackend
{
public:
    virtual ~InhibitBackend() = default;

    // How logs and documentation name it.
    virtual QString name() const = 0;

    // The connection the inhibits are held on.
    virtual QDBusConnection bus() const = 0;

    // Whether the service is there to take the kind now.
    virtual QCoro::Task<bool> isAnswering(AssertionKind kind) = 0;

    // Takes the kind's inhibit; a refusal is a negative errno-style status.
    virtual QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> inhibit(AssertionKind kind) = 0;

    // The bus name whose owner keeps the inhibit alive: once it leaves the
    // bus, or a new owner takes it (the service restarted), the inhibit is
    // gone. Absent when the inhibit outlives the service.
    virtual std::optional<QString> holderName(AssertionKind kind) const = 0;

    // The bus name (on bus()) whose arrival means the service may take the
    // kind now; the holder's name unless the two differ.
    virtual std::optional<QString> serviceName(AssertionKind kind) const { return holderName(kind); }

    // Whether the service's own list shows our inhibit of the kind. Absent
    // when the service keeps no list we can read, or gave no usable answer:
    // only a list that answers without us proves the inhibit is not there.
    virtual QCoro::Task<std::optional<bool>> isListed(AssertionKind kind);

    // How long the service may take after granting an inhibit before its
    // list shows it.
    virtual std::chrono::milliseconds settleTime() const { return {}; }
};
