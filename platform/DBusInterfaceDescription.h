#pragma once

#include "Expected.h"

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

private:
    QString m_interfaceName;
    QList<Method> m_methods;
};
