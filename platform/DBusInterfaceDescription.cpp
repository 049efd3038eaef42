#include "DBusInterfaceDescription.h"

#include <QFile>
#include <QXmlStreamReader>

Expected<DBusInterfaceDescription, QString> DBusInterfaceDescription::parse(
    const QString &xml, const QString &interfaceName)
{
    DBusInterfaceDescription description;
    description.m_interfaceName = interfaceName;
    QXmlStreamReader reader(xml);
    bool inInterface = false;
    bool found = false;
    Method *method = nullptr;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            const auto attributes = reader.attributes();
            if (reader.name() == u"interface") {
                inInterface = attributes.value(QLatin1String("name")) == interfaceName;
                found = found || inInterface;
            } else if (inInterface && reader.name() == u"method") {
                description.m_methods.append({ attributes.value(QLatin1String("name")).toString(), {}, {}, false });
                method = &description.m_methods.last();
            } else if (inInterface && method && reader.name() == u"arg") {
                const QString type = attributes.value(QLatin1String("type")).toString();
                if (attributes.value(QLatin1String("direction")) == u"out")
                    method->outSignature += type;
                else
                    method->inSignature += type;
            } else if (inInterface && method && reader.name() == u"annotation"
                && attributes.value(QLatin1String("name")) == u"org.freedesktop.DBus.Method.NoReply") {
                method->noReply = attributes.value(QLatin1String("value")) == u"true";
            }
        } else if (reader.isEndElement()) {
            if (reader.name() == u"method")
                method = nullptr;
            else if (reader.name() == u"interface")
                inInterface = false;
        }
    }
    if (reader.hasError())
        return Unexpected(QStringLiteral("invalid interface description: %1").arg(reader.errorString()));
    if (!found)
        return Unexpected(QStringLiteral("no interface %1 in the description").arg(interfaceName));
    return description;
}

DBusInterfaceDescription DBusInterfaceDescription::load(const QString &resourcePath, const QString &interfaceName)
{
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot open the interface description %s", qUtf8Printable(resourcePath));
    auto description = parse(QString::fromUtf8(file.readAll()), interfaceName);
    if (!description)
        qFatal("%s", qUtf8Printable(description.error()));
    return std::move(description).value();
}

const DBusInterfaceDescription::Method *DBusInterfaceDescription::method(const QString &name) const
{
    for (const Method &candidate : m_methods) {
        if (candidate.name == name)
            return &candidate;
    }
    return nullptr;
}

QString DBusInterfaceDescription::introspection() const
{
    // Argument names are not needed by callers; types and directions are.
    QString xml = QStringLiteral("  <interface name=\"%1\">\n").arg(m_interfaceName);
    for (const Method &method : m_methods) {
        xml += QStringLiteral("    <method name=\"%1\">\n").arg(method.name);
        const auto addArguments = [&xml](const QString &signature, const QString &direction) {
            QByteArray bytes = signature.toLatin1();
            // Split a signature into its complete types.
            int depth = 0;
            QString current;
            for (const char c : bytes) {
                current += QLatin1Char(c);
                if (c == '(' || c == '{')
                    ++depth;
                else if (c == ')' || c == '}')
                    --depth;
                if (depth == 0 && c != 'a') {
                    xml += QStringLiteral("      <arg type=\"%1\" direction=\"%2\"/>\n").arg(current, direction);
                    current.clear();
                }
            }
        };
        addArguments(method.inSignature, QStringLiteral("in"));
        addArguments(method.outSignature, QStringLiteral("out"));
        if (method.noReply)
            xml += QStringLiteral("      <annotation name=\"org.freedesktop.DBus.Method.NoReply\" value=\"true\"/>\n");
        xml += QStringLiteral("    </method>\n");
    }
    xml += QStringLiteral("  </interface>\n");
    return xml;
}

DBusInterfaceDescription::Screening DBusInterfaceDescription::screen(
    const QDBusMessage &message, const QDBusConnection &connection) const
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return Screening::notOurs;
    if (!message.interface().isEmpty() && message.interface() != m_interfaceName)
        return Screening::notOurs;
    const Method *called = method(message.member());
    if (!called)
        return Screening::notOurs;
    // Input first: a malformed request is refused before anyone is asked about it.
    if (message.signature() != called->inSignature) {
        connection.send(message.createErrorReply(QDBusError::InvalidArgs,
            QStringLiteral("%1 takes (%2), not (%3)").arg(called->name, called->inSignature, message.signature())));
        return Screening::refused;
    }
    message.setDelayedReply(true);
    return Screening::accepted;
}
