#include "Triggers.h"

#include "BusyTrigger.h"
#include "FullscreenTrigger.h"
#include "MediaPlayingTrigger.h"
#include "RemoteLoginTrigger.h"
#include "ScheduleTrigger.h"

QList<Trigger *> makeTriggers(const TriggerPlaces &places, QObject *parent)
{
    QList<Trigger *> triggers;
    // Each trigger is added here, in the order the dialog and `wakora rule` show them.
    triggers.append(new MediaPlayingTrigger(places.sessionBus, std::chrono::minutes(1), parent));
    triggers.append(new FullscreenTrigger(places.sessionBus, QProcessEnvironment::systemEnvironment(), parent));
    triggers.append(new RemoteLoginTrigger(places.systemBus, parent));
    triggers.append(new BusyTrigger(places.proc, BusyTrigger::defaultInterval, parent));
    triggers.append(
        new ScheduleTrigger([] { return QDateTime::currentDateTime(); }, { places.wallClock, places.sleep }, parent));
    return triggers;
}
