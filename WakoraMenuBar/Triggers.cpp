#include "Triggers.h"

QList<Trigger *> makeTriggers(const TriggerPlaces &places, QObject *parent)
{
    Q_UNUSED(places);
    QList<Trigger *> triggers;
    // Each trigger is added here, in the order the dialog and `wakora rule` show them.
    Q_UNUSED(parent);
    return triggers;
}
