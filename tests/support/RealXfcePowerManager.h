#pragma once

// The real xfce4-power-manager, with the real xfconfd holding its settings,
// on MockBuses under Xvfb. It serves org.freedesktop.PowerManagement and its
// Inhibit object on the session bus. It needs nothing on the system bus to
// come up; with the logind mock there it takes its own lock on the power
// keys and the lid, and with the upower mock it reads the power supply.
//
//     RealXfcePowerManager xfpm;
//     WAKORA_START_OR_SKIP(xfpm.start(buses, display));
//     xfpm.hasInhibit() ... on failure: xfpm.printLogs();

#include "DaemonProcess.h"
#include "DesktopHome.h"

#include <QDBusArgument>
#include <QDBusMessage>

#include <optional>

class RealXfcePowerManager
{
public:
    static inline const QString service = QStringLiteral("org.freedesktop.PowerManagement");
    static inline const QString inhibitPath = QStringLiteral("/org/freedesktop/PowerManagement/Inhibit");
    static inline const QString inhibitInterface = QStringLiteral("org.freedesktop.PowerManagement.Inhibit");

    RealXfcePowerManager() = default;
    RealXfcePowerManager(const RealXfcePowerManager &) = delete;
    RealXfcePowerManager &operator=(const RealXfcePowerManager &) = delete;
    ~RealXfcePowerManager() { stop(); }

    // Empty once xfconfd and then the power manager answer on the bus, else why not.
    QString start(MockBuses &buses, const XvfbDisplay &display)
    {
        if (!m_home.isValid())
            return QStringLiteral("no temporary directory");
        m_bus = &buses.bus(MockBuses::session);
        const QProcessEnvironment environment = m_home.environment(buses, display, QStringLiteral("XFCE"));
        const QString xfconfd = DaemonProcess::activatedProgram(QStringLiteral("org.xfce.Xfconf"));
        QString why = m_settings.start(xfconfd.isEmpty() ? QStringLiteral("xfconfd") : xfconfd, {}, environment,
            m_home.filePath(QStringLiteral("xfconfd.log")), m_bus->connection(), QStringLiteral("org.xfce.Xfconf"),
            QStringLiteral("xfconf"));
        if (!why.isEmpty())
            return why;
        // Without --daemon it stays in the foreground, our child.
        why = m_manager.start(QStringLiteral("xfce4-power-manager"), { QStringLiteral("--debug") }, environment,
            m_home.filePath(QStringLiteral("xfce4-power-manager.log")), m_bus->connection(), service,
            QStringLiteral("xfce4-power-manager"));
        if (!why.isEmpty())
            return why;
        // It takes its names while it still builds its objects.
        const QDeadlineTimer deadline(5000);
        while (!hasInhibit().has_value()) {
            if (deadline.hasExpired() || !m_manager.isRunning())
                return QStringLiteral("xfce4-power-manager does not answer HasInhibit:\n%1").arg(m_manager.log());
            QThread::msleep(10);
        }
        return QString();
    }

    void stop()
    {
        m_manager.stop();
        m_settings.stop();
    }

    // Absent when the call fails.
    std::optional<bool> hasInhibit()
    {
        const QDBusMessage reply = call(QStringLiteral("HasInhibit"));
        if (reply.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        return reply.arguments().value(0).toBool();
    }

    // The application name of every cookie held, one entry per cookie.
    std::optional<QStringList> inhibitors()
    {
        const QDBusMessage reply = call(QStringLiteral("GetInhibitors"));
        if (reply.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        return reply.arguments().value(0).toStringList();
    }

    bool isRunning() const { return m_manager.isRunning(); }
    QProcess::ExitStatus exitStatus() const { return m_manager.exitStatus(); }
    qint64 startupMs() const { return m_manager.startupMs(); }
    qint64 settingsStartupMs() const { return m_settings.startupMs(); }

    void printLogs() const
    {
        m_settings.printLog();
        m_manager.printLog();
    }

private:
    QDBusMessage call(const QString &method)
    {
        const QDBusMessage message = QDBusMessage::createMethodCall(service, inhibitPath, inhibitInterface, method);
        return m_bus->connection().call(message, QDBus::Block, 5000);
    }

    DesktopHome m_home;
    PrivateBus *m_bus = nullptr;
    DaemonProcess m_settings{ QStringLiteral("xfconfd") };
    DaemonProcess m_manager{ QStringLiteral("xfce4-power-manager") };
};
