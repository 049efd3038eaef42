#pragma once

// One real desktop daemon run by a test: started with the environment the
// test gives it, its output kept in a log file, ready once it owns its name
// on the bus, and ended with SIGTERM (then SIGKILL) when the test is done.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

class DaemonProcess
{
public:
    explicit DaemonProcess(QString name)
        : m_name(std::move(name))
    { }
    DaemonProcess(const DaemonProcess &) = delete;
    DaemonProcess &operator=(const DaemonProcess &) = delete;
    ~DaemonProcess() { stop(); }

    // Empty once `program` runs and owns `busName` on `bus`, else why not;
    // the text says "not installed" (naming the Debian `package`) when the
    // program is missing.
    QString start(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
        const QString &logPath, QDBusConnection bus, const QString &busName, const QString &package,
        int timeoutMs = 20000)
    {
        const QString path = QFileInfo(program).isAbsolute() ? program : QStandardPaths::findExecutable(program);
        if (path.isEmpty() || !QFileInfo(path).isExecutable())
            return QStringLiteral("not installed: %1 (Debian: %2)").arg(program, package);
        m_logPath = logPath;
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(logPath);
        QElapsedTimer clock;
        clock.start();
        m_process.start(path, arguments);
        if (!m_process.waitForStarted(5000))
            return QStringLiteral("%1 did not start: %2").arg(m_name, m_process.errorString());
        const QDeadlineTimer deadline(timeoutMs);
        while (!bus.interface()->isServiceRegistered(busName).value()) {
            if (m_process.state() != QProcess::Running)
                return QStringLiteral("%1 ended before it owned %2:\n%3").arg(m_name, busName, log());
            if (deadline.hasExpired())
                return QStringLiteral("%1 did not own %2 within %3 ms:\n%4")
                    .arg(m_name, busName)
                    .arg(timeoutMs)
                    .arg(log());
            QThread::msleep(10);
        }
        m_startupMs = clock.elapsed();
        return QString();
    }

    // SIGTERM, then SIGKILL: every daemon here ends within tens of ms on SIGTERM.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_stopped = true;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QString name() const { return m_name; }
    qint64 processId() const { return m_process.processId(); }
    // From exec until the daemon owned its name.
    qint64 startupMs() const { return m_startupMs; }

    QString log() const
    {
        QFile file(m_logPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // The log, and how the daemon ended if it did before the test stopped it.
    void printLog() const
    {
        if (m_logPath.isEmpty())
            return;
        QString ending;
        if (m_process.state() == QProcess::NotRunning && !m_stopped)
            ending = m_process.exitStatus() == QProcess::CrashExit
                ? QStringLiteral("---- %1 crashed ----").arg(m_name)
                : QStringLiteral("---- %1 exited with status %2 ----").arg(m_name).arg(m_process.exitCode());
        qInfo().noquote() << "---- log of" << m_name << "----\n" << log() << ending;
    }

    // The program the session bus would start for `busName`, from the
    // service file the daemon's package installs: the daemons live in
    // libexec folders whose names differ between distributions.
    static QString activatedProgram(const QString &busName)
    {
        const QString serviceFile = QStandardPaths::locate(
            QStandardPaths::GenericDataLocation, QStringLiteral("dbus-1/services/%1.service").arg(busName));
        QFile file(serviceFile);
        if (serviceFile.isEmpty() || !file.open(QIODevice::ReadOnly))
            return QString();
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith(QLatin1String("Exec=")))
                return line.mid(5).section(QLatin1Char(' '), 0, 0);
        }
        return QString();
    }

private:
    QString m_name;
    QString m_logPath;
    QProcess m_process;
    qint64 m_startupMs = -1;
    bool m_stopped = false;
};
