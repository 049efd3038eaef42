#include "FakeRunningApplications.h"
#include "SystemPowerStatus.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The status reader without any bus: a query that cannot reach logind
// fails, and how the settings command is run and its failures told.
class TestSystemPowerStatus : public QObject
{
    Q_OBJECT

    QTemporaryDir directory;

    // A stand-in for the command: a shell script with the given body.
    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = directory.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write("#!/bin/sh\n" + body + '\n');
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }

    static SystemPowerStatus statusRunning(const QString &command)
    {
        // No bus is used by settings(); connections that never connected stand in.
        return SystemPowerStatus(QDBusConnection(QStringLiteral("none")), QDBusConnection(QStringLiteral("none")),
            std::make_shared<FakeRunningApplications>(), command);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(directory.isValid()); }

    void withoutABusTheQueryFails()
    {
        SystemPowerStatus status = statusRunning(QString());
        const auto result = QCoro::waitFor(status.assertions());
        QVERIFY(!result);
        QCOMPARE(result.error().which, PowerStatusError::Case::assertionQueryFailed);
        QVERIFY(result.error().code != 0);
    }

    void settingsParseTheWholeListing()
    {
        // Only "-g" is passed; standard error is not part of the listing; CR LF
        // breaks and invalid UTF-8 survive; more than a pipe's buffer arrives whole.
        const QString command = script(QStringLiteral("pmset-listing"),
            "echo 'noise on stderr' >&2\n"
            "printf 'System-wide power settings:\\r\\n SleepDisabled\\t\\t1\\r\\n'\n"
            "printf 'Currently in use:\\n args %s:%s\\n odd \\377\\n' \"$#\" \"$1\"\n"
            "i=0; while [ $i -lt 3000 ]; do echo \" filler$i 0123456789012345678901234567890123456789\"; i=$((i+1)); "
            "done\n"
            "echo ' last 1 (the end)'");
        SystemPowerStatus status = statusRunning(command);
        const auto result = QCoro::waitFor(status.settings());
        QVERIFY(result);
        const QList<PowerSetting> &settings = result.value();
        QCOMPARE(settings.size(), 3 + 3000 + 1);
        const QString system = QStringLiteral("System-wide power settings");
        const QString inUse = QStringLiteral("Currently in use");
        QCOMPARE(settings[0], (PowerSetting{ system, QStringLiteral("SleepDisabled"), QStringLiteral("1") }));
        QCOMPARE(settings[1], (PowerSetting{ inUse, QStringLiteral("args"), QStringLiteral("1:-g") }));
        QCOMPARE(settings[2], (PowerSetting{ inUse, QStringLiteral("odd"), QStringLiteral("\ufffd") }));
        QCOMPARE(settings.last(), (PowerSetting{ inUse, QStringLiteral("last"), QStringLiteral("1 (the end)") }));
    }

    void aFailingCommandReportsItsStatus_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("exit 1") << QByteArray("exit 1") << 1;
        QTest::newRow("output is discarded") << QByteArray("echo 'sleep 10'; exit 3") << 3;
    }

    void aFailingCommandReportsItsStatus()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        SystemPowerStatus reader = statusRunning(script(QStringLiteral("pmset-fails"), body));
        const auto result = QCoro::waitFor(reader.settings());
        QVERIFY(!result);
        QCOMPARE(result.error(), PowerStatusError::pmsetFailed(status));
    }

    void aCommandKilledBySignalIsAFailure()
    {
        SystemPowerStatus reader = statusRunning(script(QStringLiteral("pmset-killed"), "echo 'sleep 1'; kill -9 $$"));
        const auto result = QCoro::waitFor(reader.settings());
        QVERIFY(!result);
        QCOMPARE(result.error().which, PowerStatusError::Case::pmsetFailed);
        QVERIFY(result.error().code != 0);
    }

    void aCommandThatCannotStartSaysWhy_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << QStringLiteral("missing");
        QTest::newRow("not executable") << QStringLiteral("not executable");
        QTest::newRow("no path at all") << QStringLiteral("empty");
    }

    void aCommandThatCannotStartSaysWhy()
    {
        QFETCH(QString, kind);
        QString command = directory.filePath(QStringLiteral("no-such-pmset"));
        if (kind == u"empty") {
            command.clear();
        } else if (kind == u"not executable") {
            command = script(QStringLiteral("pmset-not-executable"), "exit 0");
            QFile::setPermissions(command, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        SystemPowerStatus reader = statusRunning(command);
        const auto result = QCoro::waitFor(reader.settings());
        QVERIFY(!result);
        QCOMPARE(result.error().which, PowerStatusError::Case::pmsetLaunchFailed);
        QVERIFY(!result.error().message.isEmpty());
        QVERIFY(result.error().errorDescription().startsWith(QStringLiteral("pmsetLaunchFailed(\"")));
    }

    void settingsNeverBlockTheCallingThread()
    {
        SystemPowerStatus reader = statusRunning(script(QStringLiteral("pmset-slow"), "sleep 0.4; echo 'sleep 5'"));
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(20);

        // Two at once: each completes with its own result.
        auto first = reader.settings();
        auto second = reader.settings();
        QVERIFY(!first.isReady());
        const auto firstResult = QCoro::waitFor(first);
        const auto secondResult = QCoro::waitFor(second);
        QVERIFY(firstResult && secondResult);
        QCOMPARE(firstResult.value(), secondResult.value());
        QCOMPARE(firstResult.value().value(0).value, QStringLiteral("5"));
        // The event loop kept turning while the command ran.
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }
};

QTEST_GUILESS_MAIN(TestSystemPowerStatus)
#include "tst_systempowerstatus.moc"
