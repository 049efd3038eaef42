#pragma once

// The real agent and the real wakora command on MockBuses, with a private
// home (configuration and data folders) per harness.

#include "InhibitMocks.h"
#include "MenuBarService.h"
#include "ProgramLocations.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

class AgentHarness
{
public:
    AgentHarness() = default;
    AgentHarness(const AgentHarness &) = delete;
    AgentHarness &operator=(const AgentHarness &) = delete;
    ~AgentHarness() { stopAgent(); }

    // Buses, the logind mock and a private home; empty on success.
    QString start()
    {
        if (const QString why = MockBuses::unavailableReason(); !why.isEmpty())
            return why;
        QString error;
        if (!buses.start(&error))
            return error;
        logind = InhibitMocks::startLogind(buses, &error);
        if (!logind)
            return error;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
        return QString();
    }

    static ProgramLocations locations() { return ProgramLocations(QStringLiteral(WAKORA_BUILD_PREFIX)); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = buses.environment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return environment;
    }

    QDBusConnection session() { return buses.bus(MockBuses::session).connection(); }

    bool agentOwnsName()
    {
        return session().interface()->isServiceRegistered(MenuBarService::machServiceName()).value();
    }

    // Starts the agent, admitting this test program as a client too, and
    // waits until it owns its name.
    bool startAgent(QString *error)
    {
        agent = std::make_unique<QProcess>();
        agent->setProcessEnvironment(environment());
        agent->setProcessChannelMode(QProcess::MergedChannels);
        agent->start(programs.agent(),
            QStringList{ QStringLiteral("--admit"), QCoreApplication::applicationFilePath() } + agentArguments);
        if (!agent->waitForStarted(5000)) {
            *error = QStringLiteral("the agent did not start: %1").arg(agent->errorString());
            return false;
        }
        const QDeadlineTimer deadline(10000);
        while (!agentOwnsName()) {
            if (deadline.hasExpired() || agent->state() != QProcess::Running) {
                *error = QStringLiteral("the agent did not take its name:\n%1").arg(agentLog());
                return false;
            }
            QThread::msleep(10);
        }
        return true;
    }

    void signalAgent(int signal) { ::kill(pid_t(agent->processId()), signal); }

    void stopAgent()
    {
        if (!agent || agent->state() == QProcess::NotRunning)
            return;
        signalAgent(SIGCONT);
        agent->terminate();
        if (!agent->waitForFinished(5000)) {
            agent->kill();
            agent->waitForFinished(5000);
        }
    }

    // Everything the buses, the mocks and the agent said, for a failed test.
    void printLogs()
    {
        buses.printLogs();
        qInfo().noquote() << "---- agent ----\n" << agentLog();
    }

    QString agentLog()
    {
        if (agent)
            log += QString::fromUtf8(agent->readAll());
        return log;
    }

    // Runs bin/wakora with the arguments; answers its exit status.
    int wakora(const QStringList &arguments, QByteArray *output = nullptr)
    {
        QProcess command;
        command.setProcessEnvironment(environment());
        command.setProcessChannelMode(QProcess::MergedChannels);
        command.start(programs.commandLine(), arguments);
        if (!command.waitForFinished(30000))
            return -1;
        if (output)
            *output = command.readAll();
        return command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
    }

    void writeOpensAtLogin(bool opens)
    {
        QSettings settings(home.filePath(QStringLiteral("config/quorvel/WakoraMenuBar.conf")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("opensAtLogin"), opens);
        settings.sync();
    }

    QList<InhibitMocks::LogindInhibitor> inhibitors()
    {
        return InhibitMocks::logindInhibitors(logind).value_or(QList<InhibitMocks::LogindInhibitor>{});
    }

    // Whose agent and wakora command run: this build's unless set before
    // startAgent() to another build's prefix (a benchmark's baseline).
    ProgramLocations programs = locations();
    // More arguments for the agent, set before startAgent().
    QStringList agentArguments;
    QTemporaryDir home;
    MockBuses buses;
    DBusMock *logind = nullptr;
    std::unique_ptr<QProcess> agent;
    QString log;
};
