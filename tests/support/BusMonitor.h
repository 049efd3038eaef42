#pragma once

// dbus-monitor on a private bus, for the traffic between two daemons that a
// test cannot see from either end (the portal's backend calling the session
// manager). A connection of our own could not watch it: a QtDBus client
// answers every method call it receives, and a monitor must never send.
//
//     BusMonitor monitor;
//     WAKORA_START_OR_SKIP(monitor.start(buses.bus(MockBuses::session), { "interface='org.gnome.SessionManager'" }));
//     const auto calls = monitor.callsOf("org.gnome.SessionManager", "Inhibit");

#include "EndProcess.h"
#include "PrivateBus.h"

#include <QRegularExpression>

#include <optional>

// One message as dbus-monitor printed it; arguments holds the top-level
// values without their type ("4" for uint32 4), strings and paths
// unquoted, a container only by its opening bracket.
struct MonitoredMessage {
    QString kind; // "method call", "method return", "error", "signal"
    QString sender, destination, path, interface, member, errorName;
    uint serial = 0;
    uint replySerial = 0;
    QStringList arguments;
};

class BusMonitor
{
public:
    BusMonitor() = default;
    BusMonitor(const BusMonitor &) = delete;
    BusMonitor &operator=(const BusMonitor &) = delete;
    ~BusMonitor()
    {
        if (m_process.state() != QProcess::NotRunning)
            endProcess(m_process, 3000);
    }

    // Empty once dbus-monitor watches `bus` for messages matching any of
    // `matchRules` (every error and reply is watched too), else why not.
    QString start(const PrivateBus &bus, const QStringList &matchRules)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-monitor")).isEmpty())
            return QStringLiteral("not installed: dbus-monitor (Debian: dbus-bin)");
        QStringList arguments{ QStringLiteral("--address"), bus.address() };
        arguments << matchRules << QStringLiteral("type='error'") << QStringLiteral("type='method_return'");
        m_process.start(QStringLiteral("dbus-monitor"), arguments);
        if (!m_process.waitForStarted(5000))
            return QStringLiteral("dbus-monitor did not start: %1").arg(m_process.errorString());
        // Becoming a monitor costs the connection its name: from then on it sees the traffic.
        const QDeadlineTimer deadline(10000);
        while (!m_text.contains(QLatin1String("member=NameLost"))) {
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return QStringLiteral("dbus-monitor did not start watching: %1")
                    .arg(QString::fromLocal8Bit(m_process.readAllStandardError()));
            m_process.waitForReadyRead(50);
            m_text += QString::fromUtf8(m_process.readAllStandardOutput());
        }
        return QString();
    }

    // Everything seen so far, oldest first.
    QList<MonitoredMessage> messages()
    {
        m_text += QString::fromUtf8(m_process.readAllStandardOutput());
        static const QRegularExpression field(QStringLiteral("(\\w+)=([^ ;]*)"));
        static const QRegularExpression value(QStringLiteral("^   (\\w+) ?(.*)$"));
        QList<MonitoredMessage> list;
        const QStringList lines = m_text.split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            for (const char *kind : { "method call ", "method return ", "error ", "signal " }) {
                if (!line.startsWith(QLatin1String(kind)))
                    continue;
                MonitoredMessage message;
                message.kind = QString::fromLatin1(kind).trimmed();
                for (auto it = field.globalMatch(line); it.hasNext();) {
                    const auto match = it.next();
                    const QString key = match.captured(1);
                    const QString text = match.captured(2);
                    if (key == u"sender")
                        message.sender = text;
                    else if (key == u"destination")
                        message.destination = text;
                    else if (key == u"path")
                        message.path = text;
                    else if (key == u"interface")
                        message.interface = text;
                    else if (key == u"member")
                        message.member = text;
                    else if (key == u"error_name")
                        message.errorName = text;
                    else if (key == u"serial")
                        message.serial = text.toUInt();
                    else if (key == u"reply_serial")
                        message.replySerial = text.toUInt();
                }
                list.append(message);
            }
            if (const auto match = value.match(line); match.hasMatch() && !list.isEmpty()) {
                // string "x", object path "/x", signature "s": the text between the quotes.
                QString text = match.captured(2);
                if (const qsizetype quote = text.indexOf(u'"');
                    quote >= 0 && text.size() > quote + 1 && text.endsWith(u'"'))
                    text = text.mid(quote + 1, text.size() - quote - 2);
                list.last().arguments.append(text);
            }
        }
        return list;
    }

    QList<MonitoredMessage> callsOf(const QString &interface, const QString &member)
    {
        QList<MonitoredMessage> calls;
        for (const MonitoredMessage &message : messages())
            if (message.kind == u"method call" && message.interface == interface && message.member == member)
                calls.append(message);
        return calls;
    }

    // The return or error that answered `call`, once seen.
    std::optional<MonitoredMessage> answerTo(const MonitoredMessage &call)
    {
        for (const MonitoredMessage &message : messages())
            if ((message.kind == u"method return" || message.kind == u"error") && message.replySerial == call.serial
                && message.destination == call.sender)
                return message;
        return std::nullopt;
    }

    void printLog()
    {
        messages();
        qInfo().noquote() << "---- dbus-monitor ----\n" << m_text;
    }

private:
    QProcess m_process;
    QString m_text;
};
