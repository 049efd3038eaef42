#include "AccessibleTree.h"
#include "ClamshellService.h"
#include "EndProcess.h"
#include "HelperHarness.h"
#include "MenuBarService.h"
#include "XvfbDisplay.h"

#include <QDirIterator>
#include <QTest>

#include <csignal>

// Wakora installed into a temporary prefix and started the way a desktop
// starts it: private session and system buses read that prefix's activation
// files, so the agent and the helper start on demand, and nothing is started
// by hand but what a user starts (the wakora command and the window).
class TestInstalledSystem : public QObject
{
    Q_OBJECT

    QTemporaryDir root;
    QTemporaryDir home;
    std::unique_ptr<MockBuses> buses;
    std::unique_ptr<HelperHarness> helper;
    std::unique_ptr<XvfbDisplay> display;
    std::unique_ptr<AccessibilityBus> accessibility;
    DBusMock *logind = nullptr;
    std::unique_ptr<QProcess> window;
    QString windowLog;

    QString prefix() const { return root.filePath(QStringLiteral("prefix")); }
    ProgramLocations installed() const { return ProgramLocations(prefix()); }
    QString systemServices() const { return root.filePath(QStringLiteral("system-services")); }
    QDBusConnection session() { return buses->bus(MockBuses::session).connection(); }
    QDBusConnection system() { return buses->bus(MockBuses::system).connection(); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = buses->environment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("DISPLAY"), display->name());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return environment;
    }

    // bin/wakora of the prefix; answers its exit status.
    int wakora(const QStringList &arguments, QByteArray *output = nullptr)
    {
        QProcess command;
        command.setProcessEnvironment(environment());
        command.setProcessChannelMode(QProcess::MergedChannels);
        command.start(installed().commandLine(), arguments);
        if (!command.waitForFinished(30000))
            return -1;
        if (output)
            *output = command.readAll();
        else
            qInfo().noquote() << "wakora" << arguments.join(u' ') << "said:" << command.readAll();
        return command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
    }

    qint64 ownerPid(QDBusConnection bus, const QString &name)
    {
        if (!bus.interface()->isServiceRegistered(name).value())
            return 0;
        return bus.interface()->servicePid(name).value();
    }

    static QString executableOf(qint64 pid)
    {
        return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    }

    bool sleepInhibitorHeld()
    {
        const auto held = InhibitMocks::logindInhibitors(logind);
        return held && held->size() == 1 && held->first().what == u"sleep" && held->first().who == u"Wakora";
    }

    bool logindInhibitorsEmpty()
    {
        const auto held = InhibitMocks::logindInhibitors(logind);
        return held && held->isEmpty();
    }

    std::optional<AccessibleNode> windowNode(const QString &name, const QString &role)
    {
        const QString application = accessibility->applicationOf(window->processId());
        return application.isEmpty() ? std::nullopt : accessibility->find(application, name, role);
    }

    // The prefix's helper activation file, with the options that keep the
    // helper's marker and logind's drop-in inside the test's folders.
    QString activateHelperInside()
    {
        const QString name = ClamshellService::machServiceName() + QStringLiteral(".service");
        QFile file(prefix() + QStringLiteral("/share/dbus-1/system-services/") + name);
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("the prefix has no %1").arg(file.fileName());
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        bool rewritten = false;
        for (QString &line : lines) {
            if (!line.startsWith(QStringLiteral("Exec=")))
                continue;
            if (line != QStringLiteral("Exec=") + installed().helper())
                return QStringLiteral("the helper's Exec is not the prefix's helper: %1").arg(line);
            line += u' ' + helper->testOptions(false).join(u' ');
            rewritten = true;
        }
        QDir().mkpath(systemServices());
        QFile copy(systemServices() + u'/' + name);
        if (!rewritten || !copy.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write the helper's activation file");
        copy.write(lines.join(u'\n').toUtf8());
        return QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString why = MockBuses::unavailableReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        if (geteuid() != 0)
            QSKIP("not installed: the helper and wakora-pmset's writes need root; CI runs as root");
        QVERIFY(root.isValid() && home.isValid());

        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(WAKORA_CMAKE_COMMAND),
            { QStringLiteral("--install"), QStringLiteral(WAKORA_BUILD_PREFIX), QStringLiteral("--prefix"), prefix() });
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(
            install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0, install.readAll().constData());

        // Nothing installed may point back into the build tree.
        QDirIterator files(prefix(), QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (file.fileName().endsWith(QStringLiteral(".svg")) || file.size() > 1 << 20
                || !file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = file.readAll();
            if (text.startsWith("\x7f"
                                "ELF"))
                continue;
            QVERIFY2(!text.contains(WAKORA_BUILD_PREFIX), qPrintable(file.fileName()));
        }
    }

    void init()
    {
        buses = std::make_unique<MockBuses>();
        helper = std::make_unique<HelperHarness>();
        display = std::make_unique<XvfbDisplay>();
        if (const QString why = display->start(); !why.isEmpty())
            QSKIP(qPrintable(why));
        buses->bus(MockBuses::session).setServiceDirectories({ prefix() + QStringLiteral("/share/dbus-1/services") });
        buses->bus(MockBuses::system).setServiceDirectories({ systemServices() });
        QString error;
        QVERIFY2(buses->start(&error), qPrintable(error));
        logind = InhibitMocks::startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QCOMPARE(helper->start(*buses, logind), QString());
        // A portal that offers no Inhibit (as some desktops' portals): the
        // agent must find its way to logind.
        QVERIFY2(InhibitMocks::startPortal(*buses, &error, false), qPrintable(error));
        accessibility = std::make_unique<AccessibilityBus>();
        QCOMPARE(accessibility->start(*buses), QString());
        QCOMPARE(activateHelperInside(), QString());

        // What a desktop session hands to the services its buses start.
        QMap<QString, QString> activation;
        const QProcessEnvironment wanted = environment();
        for (const char *name : { "DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS", "HOME", "XDG_CONFIG_HOME",
                 "XDG_DATA_HOME", "DISPLAY", "QT_QPA_PLATFORM" })
            activation.insert(QLatin1String(name), wanted.value(QLatin1String(name)));
        QVERIFY(buses->bus(MockBuses::session).updateActivationEnvironment(activation));
        QVERIFY(buses->bus(MockBuses::system).updateActivationEnvironment(activation));
    }

    void cleanup()
    {
        if (window)
            windowLog += QString::fromUtf8(endProcess(*window));
        if (buses) {
            for (auto [bus, name] : { std::pair{ session(), MenuBarService::machServiceName() },
                     std::pair{ system(), ClamshellService::machServiceName() } })
                if (const qint64 pid = ownerPid(bus, name); pid > 0)
                    ::kill(pid_t(pid), SIGKILL);
        }
        if (QTest::currentTestFailed() && buses) {
            buses->printLogs();
            qInfo().noquote() << "---- Wakora ----\n" << windowLog;
        }
        window.reset();
        accessibility.reset();
        helper.reset();
        logind = nullptr;
        buses.reset();
        display.reset();
    }

    void theInstalledSystemStartsOnDemandAndGivesEverythingBack()
    {
        // `wakora on` finds no agent; the session bus starts the installed one.
        QVERIFY(!session().interface()->isServiceRegistered(MenuBarService::machServiceName()).value());
        QCOMPARE(wakora({ QStringLiteral("on") }), 0);
        const qint64 agent = ownerPid(session(), MenuBarService::machServiceName());
        QVERIFY(agent > 0);
        QCOMPARE(executableOf(agent), installed().agent());
        QTRY_VERIFY_WITH_TIMEOUT(sleepInhibitorHeld(), 10000);

        // The installed window shows it as on.
        window = std::make_unique<QProcess>();
        window->setProcessEnvironment(environment());
        window->setProcessChannelMode(QProcess::MergedChannels);
        window->start(installed().mainApplication(), {});
        QVERIFY2(window->waitForStarted(5000), qPrintable(window->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(windowNode(QStringLiteral("잠자기 방지"), QStringLiteral("check box"))
                                     .value_or(AccessibleNode{})
                                     .has(AccessibleNode::checked),
            20000);
        QVERIFY(windowNode(QStringLiteral("Mac이 깨어 있습니다"), QStringLiteral("label")).has_value());

        // Opening the window registered the agent at login: the user's
        // autostart entry is the prefix's template, word for word.
        const QString entry = QStringLiteral("/autostart/Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar.desktop");
        QFile registered(home.filePath(QStringLiteral("config")) + entry);
        QFile shipped(prefix() + QStringLiteral("/share/wakora") + entry);
        QTRY_VERIFY_WITH_TIMEOUT(registered.exists(), 10000);
        QVERIFY(registered.open(QIODevice::ReadOnly) && shipped.open(QIODevice::ReadOnly));
        QCOMPARE(registered.readAll(), shipped.readAll());

        // `wakora lid on`: the agent asks the helper, which the system bus
        // started as root (already when the agent first asked for its state).
        QVERIFY(!helper->dropInExists());
        QCOMPARE(wakora({ QStringLiteral("lid"), QStringLiteral("on") }), 0);
        const qint64 lidHelper = ownerPid(system(), ClamshellService::machServiceName());
        QVERIFY(lidHelper > 0);
        QCOMPARE(executableOf(lidHelper), installed().helper());
        QVERIFY(helper->dropInExists());
        QVERIFY(helper->markerExists());

        // The agent dies: the inhibitor and the lid-closed setting come back.
        QCOMPARE(::kill(pid_t(agent), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(logindInhibitorsEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!helper->dropInExists(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!helper->markerExists(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(windowNode(QStringLiteral("다시 켜기"), QStringLiteral("push button"))
                                     .value_or(AccessibleNode{})
                                     .has(AccessibleNode::showing),
            15000);

        // `wakora status` says so, with a status of its own, and starts nothing.
        QByteArray said;
        const int status = wakora({ QStringLiteral("status") }, &said);
        QVERIFY2(status == 3, said.constData()); // 0 success, 1 failure, 2 usage, 3 not running
        QVERIFY2(said.contains("메뉴바 앱이 실행 중이 아닙니다."), said.constData());
        QVERIFY(!session().interface()->isServiceRegistered(MenuBarService::machServiceName()).value());
    }
};

QTEST_MAIN(TestInstalledSystem)
#include "tst_installedsystem.moc"
