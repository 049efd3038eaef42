#pragma once

// Private D-Bus daemons and python-dbusmock services for tests and
// benchmarks. A test never talks to the machine's own buses: every daemon
// here listens on a socket in a temporary directory, and the environment
// variables that name the buses point at these daemons while they run.
//
//     MockBuses buses;
//     if (const QString why = MockBuses::unavailableReason(); !why.isEmpty())
//         QSKIP(qPrintable(why));
//     QVERIFY2(buses.start(&error), qPrintable(error));
//     DBusMock *logind = buses.startTemplate(MockBuses::system, "logind", "org.freedesktop.login1", &error);
//     ... on failure: buses.printLogs();

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <memory>
#include <vector>

// One method of a mock object, as org.freedesktop.DBus.Mock.AddObject takes it.
struct MockMethod {
    QString name;
    QString inSignature;
    QString outSignature;
    QString code;
};
Q_DECLARE_METATYPE(MockMethod)

inline QDBusArgument &operator<<(QDBusArgument &argument, const MockMethod &method)
{
    argument.beginStructure();
    argument << method.name << method.inSignature << method.outSignature << method.code;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument &operator>>(const QDBusArgument &argument, MockMethod &method)
{
    argument.beginStructure();
    argument >> method.name >> method.inSignature >> method.outSignature >> method.code;
    argument.endStructure();
    return argument;
}

// A dbus-daemon of our own, listening in a temporary directory.
class PrivateBus
{
public:
    explicit PrivateBus(QString kind)
        : m_kind(std::move(kind))
    { }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;
    ~PrivateBus() { stop(); }

    // Folders of .service files the bus starts services from on demand (D-Bus
    // activation); set before start(). None by default.
    void setServiceDirectories(const QStringList &directories) { m_serviceDirectories = directories; }

    bool start(const QString &directory, QString *error)
    {
        const QString config = directory + QStringLiteral("/%1.conf").arg(m_kind);
        QString serviceDirectories;
        for (const QString &folder : std::as_const(m_serviceDirectories))
            serviceDirectories += QStringLiteral("  <servicedir>%1</servicedir>\n").arg(folder.toHtmlEscaped());
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("cannot write %1").arg(config);
            return false;
        }
        file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1/%2-bus</listen>
  <auth>EXTERNAL</auth>
%3  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                       .arg(directory, m_kind, serviceDirectories)
                       .toUtf8());
        file.close();

        m_logPath = directory + QStringLiteral("/%1-bus.log").arg(m_kind);
        m_daemon.setStandardErrorFile(m_logPath);
        m_daemon.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                QStringLiteral("--nofork") });
        if (!m_daemon.waitForStarted(5000)) {
            *error = QStringLiteral("dbus-daemon did not start: %1").arg(m_daemon.errorString());
            return false;
        }
        QByteArray line;
        const QDeadlineTimer deadline(10000);
        while (!line.contains('\n') && !deadline.hasExpired() && m_daemon.state() == QProcess::Running) {
            m_daemon.waitForReadyRead(100);
            line += m_daemon.readAllStandardOutput();
        }
        if (!line.contains('\n')) {
            *error = QStringLiteral("dbus-daemon printed no address");
            return false;
        }
        m_address = QString::fromUtf8(line.left(line.indexOf('\n')).trimmed());
        return connection().isConnected() || (*error = QStringLiteral("cannot connect to %1").arg(m_address), false);
    }

    void stop()
    {
        for (const QString &name : std::as_const(m_connectionNames))
            QDBusConnection::disconnectFromBus(name);
        m_connectionNames.clear();
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(3000)) {
                m_daemon.kill();
                m_daemon.waitForFinished(3000);
            }
        }
    }

    // What the bus adds to the environment of the services it starts, as a
    // desktop session does with dbus-update-activation-environment.
    bool updateActivationEnvironment(const QMap<QString, QString> &variables)
    {
        qDBusRegisterMetaType<QMap<QString, QString>>();
        QDBusMessage update = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("UpdateActivationEnvironment"));
        update << QVariant::fromValue(variables);
        return connection().call(update, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
    }

    QString address() const { return m_address; }
    QString kind() const { return m_kind; }
    QString logPath() const { return m_logPath; }

    // The test's own connection; every call answers the same one.
    QDBusConnection connection()
    {
        if (m_connectionNames.isEmpty())
            return newConnection();
        return QDBusConnection(m_connectionNames.first());
    }

    // Another client of the bus, with a unique name of its own.
    QDBusConnection newConnection()
    {
        const QString name = QStringLiteral("test-%1-%2").arg(m_kind, QUuid::createUuid().toString(QUuid::Id128));
        m_connectionNames.append(name);
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QString m_kind;
    QProcess m_daemon;
    QString m_address;
    QString m_logPath;
    QStringList m_connectionNames;
    QStringList m_serviceDirectories;
};

// A python-dbusmock process owning one bus name.
class DBusMock
{
public:
    DBusMock(PrivateBus &bus, QString busName, QString mainPath, QString logPath)
        : m_bus(bus)
        , m_busName(std::move(busName))
        , m_mainPath(std::move(mainPath))
        , m_logPath(std::move(logPath))
    { }
    DBusMock(const DBusMock &) = delete;
    DBusMock &operator=(const DBusMock &) = delete;
    ~DBusMock() { stop(); }

    bool start(const QStringList &arguments, const QProcessEnvironment &environment, QString *error)
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_logPath);
        m_process.start(QStringLiteral("/usr/bin/python3"),
            QStringList{ QStringLiteral("-m"), QStringLiteral("dbusmock") } + arguments);
        if (!m_process.waitForStarted(5000)) {
            *error = QStringLiteral("python3 did not start: %1").arg(m_process.errorString());
            return false;
        }
        const QDeadlineTimer deadline(15000);
        QDBusConnectionInterface *daemon = m_bus.connection().interface();
        while (!daemon->isServiceRegistered(m_busName).value()) {
            if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
                *error = QStringLiteral("the mock of %1 did not appear on the bus:\n%2").arg(m_busName, log());
                return false;
            }
            QThread::msleep(20);
        }
        return true;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    QString busName() const { return m_busName; }
    QString mainPath() const { return m_mainPath; }
    PrivateBus &bus() { return m_bus; }

    QString log() const
    {
        QFile file(m_logPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // A call of the mock's own interface on one of its objects (main object by default).
    QDBusMessage mockCall(const QString &method, const QVariantList &arguments, const QString &path = QString())
    {
        return call(path.isEmpty() ? m_mainPath : path, QStringLiteral("org.freedesktop.DBus.Mock"), method, arguments);
    }

    QDBusMessage call(
        const QString &path, const QString &interface, const QString &method, const QVariantList &arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(m_busName, path, interface, method);
        message.setArguments(arguments);
        return m_bus.connection().call(message, QDBus::Block, 10000);
    }

    // True when the mock took the method; the code is Python run in the mock, with
    // `self`, `args` and the mock's globals (`dbus`, `objects`) at hand; it answers
    // through `ret`.
    bool addMethod(const QString &interface, const QString &name, const QString &in, const QString &out,
        const QString &code, const QString &path = QString())
    {
        return ok(mockCall(QStringLiteral("AddMethod"), { interface, name, in, out, code }, path));
    }

    bool addProperty(const QString &interface, const QString &name, const QVariant &value)
    {
        return ok(
            mockCall(QStringLiteral("AddProperty"), { interface, name, QVariant::fromValue(QDBusVariant(value)) }));
    }

    bool updateProperties(const QString &interface, const QVariantMap &properties)
    {
        return ok(mockCall(QStringLiteral("UpdateProperties"), { interface, properties }));
    }

    bool addObject(
        const QString &path, const QString &interface, const QVariantMap &properties, const QList<MockMethod> &methods)
    {
        qDBusRegisterMetaType<MockMethod>();
        qDBusRegisterMetaType<QList<MockMethod>>();
        return ok(mockCall(QStringLiteral("AddObject"), { path, interface, properties, QVariant::fromValue(methods) }));
    }

    // The arguments of every call of `method` so far, oldest first.
    QList<QVariantList> callsOf(const QString &method, const QString &path = QString())
    {
        const QDBusMessage reply = mockCall(QStringLiteral("GetMethodCalls"), { method }, path);
        QList<QVariantList> calls;
        if (reply.type() != QDBusMessage::ReplyMessage)
            return calls;
        const QDBusArgument array = reply.arguments().value(0).value<QDBusArgument>();
        array.beginArray();
        while (!array.atEnd()) {
            quint64 time = 0;
            QVariantList arguments;
            array.beginStructure();
            array >> time >> arguments;
            array.endStructure();
            for (QVariant &argument : arguments) // variants arrive wrapped
                if (argument.canConvert<QDBusVariant>())
                    argument = argument.value<QDBusVariant>().variant();
            calls.append(arguments);
        }
        array.endArray();
        return calls;
    }

    qint64 processId() const { return m_process.processId(); }

private:
    static bool ok(const QDBusMessage &reply)
    {
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        qWarning("mock call failed: %s %s", qUtf8Printable(reply.errorName()), qUtf8Printable(reply.errorMessage()));
        return false;
    }

    PrivateBus &m_bus;
    QString m_busName;
    QString m_mainPath;
    QString m_logPath;
    QProcess m_process;
};

// A system-like and a session-like private bus, and the mocks on them. While
// it runs, DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS of this
// process (and so of every child) name the private buses.
class MockBuses
{
public:
    enum Which { system, session };

    MockBuses() = default;
    MockBuses(const MockBuses &) = delete;
    MockBuses &operator=(const MockBuses &) = delete;
    ~MockBuses()
    {
        m_mocks.clear();
        m_system.stop();
        m_session.stop();
        restore("DBUS_SYSTEM_BUS_ADDRESS", m_savedSystem);
        restore("DBUS_SESSION_BUS_ADDRESS", m_savedSession);
    }

    // Empty when the tools are here, else why the tests cannot run.
    static QString unavailableReason()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return QStringLiteral("dbus-daemon is not installed (Debian: dbus-daemon)");
        QProcess probe;
        probe.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), QStringLiteral("import dbusmock") });
        if (!probe.waitForFinished(15000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
            return QStringLiteral("python-dbusmock is not installed for /usr/bin/python3 (Debian: python3-dbusmock)");
        return QString();
    }

    bool start(QString *error)
    {
        if (!m_directory.isValid()) {
            *error = QStringLiteral("no temporary directory");
            return false;
        }
        if (!m_system.start(m_directory.path(), error) || !m_session.start(m_directory.path(), error))
            return false;
        m_savedSystem = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        m_savedSession = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_system.address().toUtf8());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_session.address().toUtf8());
        return true;
    }

    PrivateBus &bus(Which which) { return which == system ? m_system : m_session; }
    QString directory() const { return m_directory.path(); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_system.address());
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_session.address());
        environment.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
        environment.remove(QStringLiteral("DBUS_STARTER_BUS_TYPE"));
        environment.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
        return environment;
    }

    // One of python-dbusmock's templates ("logind", "systemd"), with optional JSON parameters.
    DBusMock *startTemplate(Which which, const QString &templateName, const QString &busName, const QString &mainPath,
        QString *error, const QString &parameters = QString())
    {
        QStringList arguments{ which == system ? QStringLiteral("--system") : QStringLiteral("--session"),
            QStringLiteral("--template"), templateName };
        if (!parameters.isEmpty())
            arguments << QStringLiteral("--parameters") << parameters;
        return startMock(which, busName, mainPath, arguments, error);
    }

    // A bare mock: one bus name and its main object with one interface, to be
    // built up with addMethod() and addObject().
    DBusMock *startObject(
        Which which, const QString &busName, const QString &mainPath, const QString &interface, QString *error)
    {
        const QStringList arguments{ which == system ? QStringLiteral("--system") : QStringLiteral("--session"),
            busName, mainPath, interface };
        return startMock(which, busName, mainPath, arguments, error);
    }

    // Stops and forgets a mock, as if its service had left the bus.
    void removeMock(DBusMock *mock)
    {
        std::erase_if(m_mocks, [mock](const std::unique_ptr<DBusMock> &held) { return held.get() == mock; });
    }

    // Every bus's and mock's output, for a failed test.
    void printLogs() const
    {
        for (const auto &mock : m_mocks)
            qInfo().noquote() << "---- log of the mock of" << mock->busName() << "----\n" << mock->log();
        for (const PrivateBus *bus : { &m_system, &m_session }) {
            QFile file(bus->logPath());
            if (file.open(QIODevice::ReadOnly) && file.size() > 0)
                qInfo().noquote() << "---- log of the" << bus->kind() << "bus ----\n"
                                  << QString::fromUtf8(file.readAll());
        }
    }

private:
    DBusMock *startMock(
        Which which, const QString &busName, const QString &mainPath, const QStringList &arguments, QString *error)
    {
        const QString logPath = m_directory.filePath(QStringLiteral("mock-%1-%2.log").arg(m_mocks.size()).arg(busName));
        auto mock = std::make_unique<DBusMock>(bus(which), busName, mainPath, logPath);
        if (!mock->start(arguments, environment(), error))
            return nullptr;
        m_mocks.push_back(std::move(mock));
        return m_mocks.back().get();
    }

    static void restore(const char *name, const QByteArray &saved)
    {
        if (saved.isNull())
            qunsetenv(name);
        else
            qputenv(name, saved);
    }

    QTemporaryDir m_directory;
    PrivateBus m_system{ QStringLiteral("system") };
    PrivateBus m_session{ QStringLiteral("session") };
    std::vector<std::unique_ptr<DBusMock>> m_mocks;
    QByteArray m_savedSystem;
    QByteArray m_savedSession;
};
