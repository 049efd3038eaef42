#pragma once

// KDE Plasma's real power daemon, PowerDevil, on MockBuses under Xvfb, with
// what it needs of the system bus: logind (python-dbusmock's template made
// to behave as systemd's logind does towards it, logind_like_systemd.py,
// with the session "auto" it looks itself up in) and UPower (dbusmock's
// template, a laptop on mains power). Neither can run for real here: both
// need the machine's own system bus, and logind systemd as PID 1.
//
// PowerDevil runs on its own, without Plasma's screen locker, so it serves
// org.freedesktop.PowerManagement(.Inhibit) and its PolicyAgent but no
// org.freedesktop.ScreenSaver. It takes an inhibition into its list about
// five seconds after it was asked for (so that short ones never count),
// hence the waits of listed().
//
//     RealPowerDevil powerDevil;
//     WAKORA_START_OR_SKIP(powerDevil.start(buses, display));
//     powerDevil.inhibitions() ... on failure: powerDevil.printLogs();

#include "DaemonProcess.h"
#include "DesktopHome.h"
#include "InhibitMocks.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QPair>
#include <QTest>

#include <optional>

#include <csignal>

#include <pwd.h>
#include <unistd.h>

class RealPowerDevil
{
public:
    static inline const QString policyAgentService = QStringLiteral("org.kde.Solid.PowerManagement.PolicyAgent");
    static inline const QString policyAgentPath = QStringLiteral("/org/kde/Solid/PowerManagement/PolicyAgent");
    static inline const QString policyAgentInterface = QStringLiteral("org.kde.Solid.PowerManagement.PolicyAgent");
    // PolicyAgent's policies: suspending the session, and the screen (dimming, turning it off).
    static constexpr uint interruptSession = 1;
    static constexpr uint changeScreenSettings = 4;
    // How long PowerDevil waits before an inhibition counts, and some leeway.
    static constexpr int takesEffectMs = 5000 + 3000;

    using Inhibition = QPair<QString, QString>; // application, reason

    RealPowerDevil() = default;
    RealPowerDevil(const RealPowerDevil &) = delete;
    RealPowerDevil &operator=(const RealPowerDevil &) = delete;
    ~RealPowerDevil() { stop(); }

    // The program PowerDevil's own autostart entry runs: its libexec folder
    // differs between distributions.
    static QString program()
    {
        QFile entry(QStringLiteral("/etc/xdg/autostart/powerdevil.desktop"));
        if (!entry.open(QIODevice::ReadOnly))
            return QString();
        while (!entry.atEnd()) {
            const QString line = QString::fromUtf8(entry.readLine()).trimmed();
            if (line.startsWith(QLatin1String("Exec=")))
                return line.mid(5).section(QLatin1Char(' '), 0, 0);
        }
        return QString();
    }

    // Starts the logind and UPower mocks on the buses' system bus, then
    // PowerDevil; empty once its PolicyAgent answers. With `logindTakesWeak`
    // logind grants "block-weak" as systemd 257 does, else refuses it as
    // systemd 252 (Debian 12) does. Given a logind mock of the stock template
    // already running (AgentHarness's), it uses that one, with the session
    // lookup PowerDevil needs added.
    QString start(
        MockBuses &buses, const XvfbDisplay &display, bool logindTakesWeak = true, DBusMock *runningLogind = nullptr)
    {
        if (!m_home.isValid())
            return QStringLiteral("no temporary directory");
        const QString path = program();
        if (path.isEmpty() || !QFileInfo(path).isExecutable())
            return QStringLiteral("not installed: PowerDevil (Debian: powerdevil)");
        m_buses = &buses;
        QString error;
        m_logind = runningLogind;
        if (m_logind
            && !m_logind->addMethod(InhibitMocks::logindInterface, QStringLiteral("GetSessionByPID"),
                QStringLiteral("u"), QStringLiteral("o"),
                QStringLiteral("ret = dbus.ObjectPath('/org/freedesktop/login1/session/auto')")))
            return QStringLiteral("the logind mock took no GetSessionByPID:\n%1").arg(m_logind->log());
        if (!m_logind)
            m_logind = buses.startTemplate(MockBuses::system,
                QStringLiteral(WAKORA_TEST_SUPPORT_DIR "/logind_like_systemd.py"), InhibitMocks::logindService,
                InhibitMocks::logindPath, &error,
                logindTakesWeak ? QStringLiteral("{\"weak\": true}") : QStringLiteral("{}"));
        if (!m_logind)
            return error;
        const passwd *user = getpwuid(geteuid());
        if (m_logind
                ->mockCall(QStringLiteral("AddSession"),
                    { QStringLiteral("auto"), QStringLiteral("seat0"), uint(geteuid()),
                        QString::fromLocal8Bit(user ? user->pw_name : "user"), true })
                .type()
            != QDBusMessage::ReplyMessage)
            return QStringLiteral("the logind mock took no session:\n%1").arg(m_logind->log());
        m_upower = buses.startTemplate(MockBuses::system, QStringLiteral("upower"),
            QStringLiteral("org.freedesktop.UPower"), QStringLiteral("/org/freedesktop/UPower"), &error,
            QStringLiteral("{\"DaemonVersion\": \"0.99.20\", \"OnBattery\": false}"));
        if (!m_upower)
            return error;
        // A laptop at half charge: PowerDevil picks its profile by the battery.
        if (m_upower
                ->mockCall(QStringLiteral("AddDischargingBattery"),
                    { QStringLiteral("mock_BAT"), QStringLiteral("Mock Battery"), 50.0, qint64(1200) })
                .type()
            != QDBusMessage::ReplyMessage)
            return QStringLiteral("the UPower mock took no battery:\n%1").arg(m_upower->log());
        m_environment = m_home.environment(buses, display, QStringLiteral("KDE"));
        m_environment.insert(QStringLiteral("KDE_FULL_SESSION"), QStringLiteral("true"));
        m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("org.kde.powerdevil.debug=true"));
        return startDaemon();
    }

    // PowerDevil again, after stop() or kill(): a restart as a session sees it.
    QString restart() { return startDaemon(); }

    void stop() { m_daemon.stop(); }

    // Ends it at once, as a crash would.
    void kill()
    {
        if (m_daemon.isRunning())
            ::kill(pid_t(m_pid), SIGKILL);
        const QDeadlineTimer deadline(5000);
        while (m_daemon.isRunning() && !deadline.hasExpired())
            QThread::msleep(10);
        m_daemon.stop();
    }

    DBusMock *logind() const { return m_logind; }
    bool isRunning() const { return m_daemon.isRunning(); }
    qint64 startupMs() const { return m_daemon.startupMs(); }

    // PolicyAgent.ListInhibitions; absent when the call fails.
    std::optional<QList<Inhibition>> inhibitions() const
    {
        const QDBusMessage reply = call(QStringLiteral("ListInhibitions"), {});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        QList<Inhibition> list;
        const QDBusArgument array = reply.arguments().value(0).value<QDBusArgument>();
        array.beginArray();
        while (!array.atEnd()) {
            Inhibition inhibition;
            array.beginStructure();
            array >> inhibition.first >> inhibition.second;
            array.endStructure();
            list.append(inhibition);
        }
        array.endArray();
        std::sort(list.begin(), list.end());
        return list;
    }

    // PolicyAgent.HasInhibition(policies); absent when the call fails.
    std::optional<bool> hasInhibition(uint policies) const
    {
        const QDBusMessage reply = call(QStringLiteral("HasInhibition"), { policies });
        if (reply.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        return reply.arguments().value(0).toBool();
    }

    // Waits until the list reads `expected` (sorted), up to the time an
    // inhibition takes to count; answers the last list read.
    QList<Inhibition> listed(QList<Inhibition> expected) const
    {
        std::sort(expected.begin(), expected.end());
        const QDeadlineTimer deadline(takesEffectMs);
        QList<Inhibition> now;
        do {
            now = inhibitions().value_or(QList<Inhibition>{});
            if (now == expected)
                break;
            // Events go on meanwhile: a control in this process follows PowerDevil's names.
            QTest::qWait(100);
        } while (!deadline.hasExpired());
        return now;
    }

    void printLogs() const
    {
        m_daemon.printLog();
        if (m_buses)
            m_buses->printLogs();
    }

private:
    QString startDaemon()
    {
        m_daemon.stop();
        const QString why
            = m_daemon.start(program(), {}, m_environment, m_home.filePath(QStringLiteral("powerdevil.log")),
                m_buses->bus(MockBuses::session).connection(), policyAgentService, QStringLiteral("powerdevil"));
        if (!why.isEmpty())
            return why;
        m_pid = m_daemon.processId();
        // It registers its objects after its names.
        const QDeadlineTimer deadline(10000);
        while (!inhibitions().has_value()) {
            if (deadline.hasExpired() || !m_daemon.isRunning())
                return QStringLiteral("PowerDevil does not answer ListInhibitions:\n%1").arg(m_daemon.log());
            QThread::msleep(20);
        }
        return QString();
    }

    QDBusMessage call(const QString &method, const QVariantList &arguments) const
    {
        QDBusMessage message
            = QDBusMessage::createMethodCall(policyAgentService, policyAgentPath, policyAgentInterface, method);
        message.setArguments(arguments);
        return m_buses->bus(MockBuses::session).connection().call(message, QDBus::Block, 5000);
    }

    DesktopHome m_home;
    MockBuses *m_buses = nullptr;
    DBusMock *m_logind = nullptr;
    DBusMock *m_upower = nullptr;
    QProcessEnvironment m_environment;
    DaemonProcess m_daemon{ QStringLiteral("powerdevil") };
    qint64 m_pid = 0;
};
