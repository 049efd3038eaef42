#include "TriggerRecord.h"

#include <QDBusMetaType>

void TriggerRecord::registerType()
{
    qDBusRegisterMetaType<TriggerRecord>();
    qDBusRegisterMetaType<QList<TriggerRecord>>();
}

QDBusArgument &operator<<(QDBusArgument &argument, const TriggerRecord &record)
{
    argument.beginStructure();
    argument << record.name << record.enabled << qlonglong(record.kinds) << record.options << record.unavailable
             << record.active << record.subject;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, TriggerRecord &record)
{
    qlonglong kinds = 0;
    argument.beginStructure();
    argument >> record.name >> record.enabled >> kinds >> record.options >> record.unavailable >> record.active
        >> record.subject;
    argument.endStructure();
    record.kinds = kinds;
    return argument;
}
