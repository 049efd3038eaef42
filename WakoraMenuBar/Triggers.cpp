#include "Triggers.h"

#include "BusyTrigger.h"
#include "FullscreenTrigger.h"
#include "ScheduleTrigger.h"

QList<Trigger *> makeTriggers(const TriggerPlaces &places, QObject *parent)
{
    QList<Trigger *> triggers;
    // Each trigger is added here, in the order the dialog and `wakora rule` show them.
    triggers.append(new FullscreenTrigger(QProcessEnvironment::systemEnvironment(), parent));
    triggers.append(new BusyTrigger(places.proc, BusyTrigger::defaultInterval, parent));
    triggers.append(
        new ScheduleTrigger([] { return QDateTime::currentDateTime(); }, { true, places.systemBus }, parent));
    return triggers;
}
