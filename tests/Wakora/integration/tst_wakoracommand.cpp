#include "ProgramLocations.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The built wakora command where there is no session bus (a terminal
// outside the desktop session): it says so at once instead of waiting for
// an agent that cannot be reached.
class TestWakoraCommand : public QObject
{
    Q_OBJECT

    QTemporaryDir directory;

    struct Run {
        int status = -1;
        QByteArray err;
        qint64 milliseconds = -1;
    };

    Run run(const QProcessEnvironment &environment, const QStringList &arguments)
    {
        QProcess command;
        command.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        command.start(ProgramLocations(QStringLiteral(WAKORA_BUILD_PREFIX)).commandLine(), arguments);
        Run result;
        if (!command.waitForFinished(30000) || command.exitStatus() != QProcess::NormalExit)
            return result;
        result.milliseconds = clock.elapsed();
        result.status = command.exitCode();
        result.err = command.readAllStandardError();
        return result;
    }

    // No bus anywhere the command could look: neither the address given, nor
    // the runtime folder's bus socket, nor an X display to autolaunch one on.
    QProcessEnvironment withoutBus(bool addressGiven) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : { "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY" })
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), directory.filePath(QStringLiteral("runtime")));
        environment.insert(QStringLiteral("HOME"), directory.filePath(QStringLiteral("home")));
        if (addressGiven)
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                QStringLiteral("unix:path=%1").arg(directory.filePath(QStringLiteral("no-such-socket"))));
        return environment;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(directory.isValid());
        QVERIFY(QDir(directory.path()).mkpath(QStringLiteral("runtime")));
        QVERIFY(QDir(directory.path()).mkpath(QStringLiteral("home")));
    }

    void saysAtOnceThatThereIsNoSessionBus_data()
    {
        QTest::addColumn<bool>("addressGiven");
        QTest::addColumn<QStringList>("arguments");
        const QList<QPair<const char *, QStringList>> verbs{
            { "status", { QStringLiteral("status") } },
            { "on", { QStringLiteral("on"), QStringLiteral("--display") } },
            { "off", { QStringLiteral("off") } },
            { "lid on", { QStringLiteral("lid"), QStringLiteral("on") } },
            { "usage", { QStringLiteral("usage"), QStringLiteral("--json") } },
        };
        for (const bool addressGiven : { true, false })
            for (const auto &[name, arguments] : verbs)
                QTest::addRow("%s, %s", addressGiven ? "address of no socket" : "no address, no display", name)
                    << addressGiven << arguments;
    }

    void saysAtOnceThatThereIsNoSessionBus()
    {
        QFETCH(bool, addressGiven);
        QFETCH(QStringList, arguments);
        const Run result = run(withoutBus(addressGiven), arguments);
        QCOMPARE(result.status, 4);
        QVERIFY2(result.err.startsWith("wakora: 세션 버스에 연결할 수 없습니다."), result.err.constData());
        QVERIFY2(result.milliseconds < 1000, qPrintable(QStringLiteral("took %1 ms").arg(result.milliseconds)));
    }

    void holdRunsNothingWithoutASessionBus()
    {
        // The command would run unheld: it is not started at all.
        const QString touched = directory.filePath(QStringLiteral("touched"));
        const Run result
            = run(withoutBus(true), { QStringLiteral("hold"), QStringLiteral("--"), QStringLiteral("touch"), touched });
        QCOMPARE(result.status, 4);
        QVERIFY2(result.milliseconds < 1000, qPrintable(QStringLiteral("took %1 ms").arg(result.milliseconds)));
        QVERIFY(!QFile::exists(touched));
    }

    void thenSuspendGoesWithALengthOrAnEnd_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        // Parsed, the command goes on to look for the bus (4); refused, it stops at the words (2).
        QTest::newRow("after --for") << QStringList{ QStringLiteral("on"), QStringLiteral("--for"),
            QStringLiteral("2h"), QStringLiteral("--then-suspend") }
                                     << 4;
        QTest::newRow("before --until, with --display") << QStringList{ QStringLiteral("on"),
            QStringLiteral("--then-suspend"), QStringLiteral("--display"), QStringLiteral("--until=18:30") }
                                                        << 4;
        QTest::newRow("alone") << QStringList{ QStringLiteral("on"), QStringLiteral("--then-suspend") } << 2;
        QTest::newRow("with a value") << QStringList{ QStringLiteral("on"), QStringLiteral("--for"),
            QStringLiteral("2h"), QStringLiteral("--then-suspend=yes") }
                                      << 2;
        QTest::newRow("on another verb") << QStringList{ QStringLiteral("off"), QStringLiteral("--then-suspend") } << 2;
    }

    void thenSuspendGoesWithALengthOrAnEnd()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        const Run result = run(withoutBus(true), arguments);
        QCOMPARE(result.status, status);
        if (status == 2) {
            QVERIFY2(result.err.contains("--then-suspend"), result.err.constData());
            QVERIFY2(result.err.contains("사용법: wakora"), result.err.constData());
        }
    }

    void badArgumentsStillSayHowToUseIt()
    {
        const Run result = run(withoutBus(true), { QStringLiteral("lid"), QStringLiteral("sideways") });
        QCOMPARE(result.status, 2);
        QVERIFY2(result.err.contains("사용법: wakora"), result.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestWakoraCommand)
#include "tst_wakoracommand.moc"
