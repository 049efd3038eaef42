#include "Triggers.h"

#include "MediaPlayingTrigger.h"
#include "RemoteLoginTrigger.h"

QList<Trigger *> makeTriggers(const TriggerPlaces &places, QObject *parent)
{
    QList<Trigger *> triggers;
    // Each trigger is added here, in the order the dialog and `wakora rule` show them.
    triggers.append(new MediaPlayingTrigger(places.sessionBus, std::chrono::minutes(1), parent));
    triggers.append(new RemoteLoginTrigger(places.systemBus, parent));
    return triggers;
}
