#include "ClaimRecord.h"

#include <QDBusMetaType>
#include <QTimeZone>

ClaimRecord ClaimRecord::of(const Claim &claim)
{
    const double end = claim.endsAt ? double(claim.endsAt->toMSecsSinceEpoch()) / 1000.0 : 0.0;
    return ClaimRecord{ claim.owner, claim.kinds, end, claim.subject };
}

Claim ClaimRecord::claim() const
{
    Claim claim{ owner, kinds, std::nullopt, subject };
    if (endsAt > 0)
        claim.endsAt = QDateTime::fromMSecsSinceEpoch(qint64(endsAt * 1000.0), QTimeZone::utc());
    return claim;
}

QList<Claim> ClaimRecord::claims(const QList<ClaimRecord> &records)
{
    QList<Claim> claims;
    for (const ClaimRecord &record : records)
        claims.append(record.claim());
    return claims;
}

void ClaimRecord::registerType()
{
    qDBusRegisterMetaType<ClaimRecord>();
    qDBusRegisterMetaType<QList<ClaimRecord>>();
}

QDBusArgument &operator<<(QDBusArgument &argument, const ClaimRecord &record)
{
    argument.beginStructure();
    argument << record.owner << qlonglong(record.kinds) << record.endsAt << record.subject;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, ClaimRecord &record)
{
    qlonglong kinds = 0;
    argument.beginStructure();
    argument >> record.owner >> kinds >> record.endsAt >> record.subject;
    argument.endStructure();
    record.kinds = kinds;
    return argument;
}
