#pragma once

#include "Expected.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <QHash>
#include <QString>

// One interface of an introspection XML file: the single description that
// both the serving and the calling side check messages against.
class DBusInterfaceDescription
{
public:
    struct Method {
        QString name;
        QString inSignature;
        QString outSignature;
        bool noReply = false;
    };

    static Expected<DBusInterfaceDescription, QString> parse(const QString &xml, const QString &interfaceName);
    // Loads a description compiled into the program; a broken one is a
    // build fault, so it aborts.
    static DBusInterfaceDescription load(const QString &resourcePath, const QString &interfaceName);

    const QString &interfaceName() const { return m_interfaceName; }
    const Method *method(const QString &name) const;
    // The <interface> element for Introspect replies.
    QString introspection() const;

    // How a service treats an incoming message: not one of our calls (the
    // bus answers it), refused for its arguments with InvalidArgs (answered
    // here), or accepted, with its reply marked as coming later.
    enum class Screening { notOurs, refused, accepted };
    Screening screen(const QDBusMessage &message, const QDBusConnection &connection) const;

private:
    QString m_interfaceName;
    QList<Method> m_methods;
};
