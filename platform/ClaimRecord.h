#pragma once

#include "KeepAwakeLedger.h"

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>

// One claim on the agent's ledger as it travels on the bus: "(sxds)".
struct ClaimRecord {
    QString owner; // "switch", "timer", "application", "hold:<bus name>", "trigger:<name>"
    qint64 kinds = 0; // bit set: 1 system sleep, 2 display sleep
    double endsAt = 0; // seconds since 1970; 0 when the claim has no end
    QString subject; // the application's or command's name, a trigger's subject, or empty

    bool operator==(const ClaimRecord &) const = default;

    static ClaimRecord of(const Claim &claim);
    Claim claim() const;
    static QList<Claim> claims(const QList<ClaimRecord> &records);

    // Once per process, before the first message that carries one.
    static void registerType();
};

QDBusArgument &operator<<(QDBusArgument &argument, const ClaimRecord &record);
const QDBusArgument &operator>>(const QDBusArgument &argument, ClaimRecord &record);

Q_DECLARE_METATYPE(ClaimRecord)
