#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

// One trigger as it travels on the bus, "(sbxa{sv}sbs)": its name, the
// user's rule for it, whether it can work here, and what it watches now.
struct TriggerRecord {
    QString name; // "media", "fullscreen", "remote", "busy", "schedule"
    bool enabled = false;
    qint64 kinds = 0; // the kinds it claims: the rule's, else the trigger's own
    QVariantMap options; // the rule's options, as stored
    QString unavailable; // why it cannot work on this desktop; empty when it can
    bool active = false; // what it watches holds now
    QString subject; // what about, while active

    bool operator==(const TriggerRecord &) const = default;

    // Once per process, before the first message that carries one.
    static void registerType();
};

QDBusArgument &operator<<(QDBusArgument &argument, const TriggerRecord &record);
const QDBusArgument &operator>>(const QDBusArgument &argument, TriggerRecord &record);

Q_DECLARE_METATYPE(TriggerRecord)
