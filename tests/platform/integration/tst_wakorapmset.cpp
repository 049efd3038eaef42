#include "InhibitMocks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace InhibitMocks;

static const QString pmset = QStringLiteral(WAKORA_PMSET_BUILD_PATH);
static const QString dropIn = QStringLiteral("60-wakora-disablesleep.conf");
static const QStringList allIgnored{ QStringLiteral("ignore"), QStringLiteral("ignore"), QStringLiteral("ignore") };

// The command's contract: its listing from logind's properties, its write
// through the runtime drop-in and a logind reload, and its exit statuses.
class TestWakoraPmset : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    QTemporaryDir runDirectory; // the writers' lock, instead of /run/wakora
    QString error;

    QString lockPath() const { return runDirectory.filePath(QStringLiteral("wakora/pmset.lock")); }

    struct Run {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };

    Run run(QStringList arguments, const QStringList &prefix = {})
    {
        if (arguments.contains(QStringLiteral("-a")))
            arguments = QStringList{ QStringLiteral("--lock-file"), lockPath() } + arguments;
        QProcess process;
        // No desktop: its own idle settings would stand in for logind's (tst_pmsetdesktops).
        QProcessEnvironment environment = buses->environment();
        environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        process.setProcessEnvironment(environment);
        if (prefix.isEmpty())
            process.start(pmset, arguments);
        else
            process.start(prefix.first(), prefix.mid(1) + QStringList{ pmset } + arguments);
        Run result;
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
            return result;
        result.status = process.exitCode();
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

    DBusMock *startLogindWithLid(const QStringList &lid)
    {
        DBusMock *logind = startLogind(*buses, &error);
        if (!logind)
            return nullptr;
        const QStringList keys{ QStringLiteral("HandleLidSwitch"), QStringLiteral("HandleLidSwitchExternalPower"),
            QStringLiteral("HandleLidSwitchDocked") };
        for (qsizetype i = 0; i < lid.size(); ++i)
            if (!logind->addProperty(logindInterface, keys[i], lid[i]))
                return nullptr;
        return logind;
    }

    // systemd whose KillUnit makes the logind mock reread the drop-in
    // directory, as SIGHUP makes logind do; or, with `reloads` false, does nothing.
    DBusMock *startSystemd(const QString &configDir, bool reloads)
    {
        DBusMock *systemd = buses->startTemplate(MockBuses::system, QStringLiteral("systemd"),
            QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"), &error);
        if (!systemd)
            return nullptr;
        const QString reload = InhibitMocks::logindReload(configDir + u'/' + dropIn, QStringLiteral("ignore"));
        const bool ok = systemd->addMethod(QStringLiteral("org.freedesktop.systemd1.Manager"),
            QStringLiteral("KillUnit"), QStringLiteral("ssi"), QString(), reloads ? reload : QString());
        return ok ? systemd : nullptr;
    }

    static QByteArray listing(const char *sleepDisabled, const char *sleepLine)
    {
        return QByteArray("System-wide power settings:\n SleepDisabled ") + sleepDisabled + "\nCurrently in use:\n"
            + sleepLine;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString reason = MockBuses::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        QVERIFY2(QFile::exists(pmset), qPrintable(pmset));
    }

    void init()
    {
        buses = std::make_unique<MockBuses>();
        QVERIFY2(buses->start(&error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            buses->printLogs();
        buses.reset();
    }

    void listing_data()
    {
        QTest::addColumn<QStringList>("lid");
        QTest::addColumn<QString>("idleAction");
        QTest::addColumn<qulonglong>("idleSeconds");
        QTest::addColumn<QByteArray>("expected");
        const QString ignore = QStringLiteral("ignore");
        QTest::newRow("lid ignored everywhere, suspend after 90 s") << QStringList{ ignore, ignore,
            ignore } << QStringLiteral("suspend") << 90ull << listing("1", " sleep 2\n");
        QTest::newRow("lid suspends when docked")
            << QStringList{ ignore, ignore, QStringLiteral("suspend") } << QStringLiteral("hibernate") << 600ull
            << listing("0", " sleep 10\n");
        QTest::newRow("lid suspends on battery") << QStringList{ QStringLiteral("suspend"), ignore, ignore }
                                                 << QStringLiteral("lock") << 600ull << listing("0", " sleep 0\n");
        // How logind reports an administrator's HandleLidSwitch=ignore and nothing else (Debian 12).
        QTest::newRow("lid ignored, external power unset") << QStringList{ ignore, QString(),
            ignore } << QStringLiteral("ignore") << 0ull << listing("1", " sleep 0\n");
        QTest::newRow("lid suspends, external power unset") << QStringList{ QStringLiteral("suspend"), QString(),
            ignore } << QStringLiteral("ignore") << 0ull << listing("0", " sleep 0\n");
        QTest::newRow("no lid properties at all")
            << QStringList{} << QStringLiteral("ignore") << 1800ull << listing("0", " sleep 0\n");
    }

    void listing()
    {
        QFETCH(QStringList, lid);
        QFETCH(QString, idleAction);
        QFETCH(qulonglong, idleSeconds);
        QFETCH(QByteArray, expected);
        DBusMock *logind = startLogindWithLid(lid);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(logind->updateProperties(logindInterface,
            { { QStringLiteral("IdleAction"), idleAction },
                { QStringLiteral("IdleActionUSec"), QVariant::fromValue(quint64(idleSeconds) * 1000000) } }));

        const Run result = run({ QStringLiteral("-g") });
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, expected);
    }

    void listingWithoutLogindFails()
    {
        const Run result = run({ QStringLiteral("-g") });
        QCOMPARE(result.status, 1);
        QVERIFY(result.out.isEmpty());
        QVERIFY2(result.err.startsWith("wakora-pmset: cannot read logind's settings"), result.err.constData());
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("unknown option") << QStringList{ QStringLiteral("-x") };
        QTest::newRow("extra argument") << QStringList{ QStringLiteral("-g"), QStringLiteral("now") };
        QTest::newRow("value out of range")
            << QStringList{ QStringLiteral("-a"), QStringLiteral("disablesleep"), QStringLiteral("2") };
        QTest::newRow("missing value") << QStringList{ QStringLiteral("-a"), QStringLiteral("disablesleep") };
        QTest::newRow("other setting") << QStringList{ QStringLiteral("-a"), QStringLiteral("sleep"),
            QStringLiteral("1") };
        QTest::newRow("config dir without command")
            << QStringList{ QStringLiteral("--config-dir"), QStringLiteral("/nonexistent") };
    }

    void badArguments()
    {
        QFETCH(QStringList, arguments);
        const Run result = run(arguments);
        QCOMPARE(result.status, 64);
        QVERIFY(result.out.isEmpty());
        QVERIFY2(result.err.startsWith("usage: wakora-pmset"), result.err.constData());
    }

    void writeThenRemoveTheDropIn()
    {
        if (geteuid() != 0)
            QSKIP("writing needs root; CI runs the tests as root");
        QTemporaryDir runDir;
        QVERIFY(runDir.isValid());
        const QString configDir = runDir.filePath(QStringLiteral("logind.conf.d")); // created on demand
        DBusMock *logind
            = startLogindWithLid({ QStringLiteral("suspend"), QStringLiteral("suspend"), QStringLiteral("ignore") });
        QVERIFY2(logind, qPrintable(error));
        DBusMock *systemd = startSystemd(configDir, true);
        QVERIFY2(systemd, qPrintable(error));

        const QStringList prefix{ QStringLiteral("--config-dir"), configDir };
        // Started with a careless umask, it still keeps logind's files root's alone.
        const mode_t umaskBefore = ::umask(0);
        Run result
            = run(prefix + QStringList{ QStringLiteral("-a"), QStringLiteral("disablesleep"), QStringLiteral("1") });
        ::umask(umaskBefore);
        QVERIFY2(result.status == 0, result.err.constData());
        const auto groupOrOtherWrite = QFileDevice::WriteGroup | QFileDevice::WriteOther;
        QCOMPARE(QFileInfo(configDir).permissions() & groupOrOtherWrite, QFileDevice::Permissions());
        QFile file(QDir(configDir).filePath(dropIn));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray contents = file.readAll();
        file.close();
        QVERIFY(contents.contains("[Login]\n"));
        for (const char *line :
            { "HandleLidSwitch=ignore\n", "HandleLidSwitchExternalPower=ignore\n", "HandleLidSwitchDocked=ignore\n" })
            QVERIFY2(contents.contains(line), line);
        QCOMPARE(file.permissions() & groupOrOtherWrite, QFileDevice::Permissions());
        // Nothing but the drop-in is left in the directory (no temporary file).
        QCOMPARE(QDir(configDir).entryList(QDir::Files | QDir::Hidden), QStringList{ dropIn });
        auto calls = systemd->callsOf(QStringLiteral("KillUnit"));
        QCOMPARE(calls.size(), 1);
        QCOMPARE(
            calls[0], (QVariantList{ QStringLiteral("systemd-logind.service"), QStringLiteral("main"), QVariant(1) }));
        QCOMPARE(run({ QStringLiteral("-g") }).out.split('\n').value(1), QByteArray(" SleepDisabled 1"));

        result = run(prefix + QStringList{ QStringLiteral("-a"), QStringLiteral("disablesleep"), QStringLiteral("0") });
        QVERIFY2(result.status == 0, result.err.constData());
        QVERIFY(!file.exists());
        QCOMPARE(systemd->callsOf(QStringLiteral("KillUnit")).size(), 2);
        QCOMPARE(run({ QStringLiteral("-g") }).out.split('\n').value(1), QByteArray(" SleepDisabled 0"));

        // Turning off what is already off still succeeds.
        result = run(prefix + QStringList{ QStringLiteral("-a"), QStringLiteral("disablesleep"), QStringLiteral("0") });
        QCOMPARE(result.status, 0);
    }

    void anAdministratorsOwnIgnoreStillLetsOursGo_data()
    {
        // The administrator's drop-in, and what logind reports with it alone.
        QTest::addColumn<QByteArray>("localContents");
        QTest::addColumn<QStringList>("reported");
        QTest::newRow("HandleLidSwitch alone (Debian 12)")
            << QByteArray("[Login]\nHandleLidSwitch=ignore\n")
            << QStringList{ QStringLiteral("ignore"), QString(), QStringLiteral("ignore") };
        QTest::newRow("on external power too")
            << QByteArray("[Login]\nHandleLidSwitch=ignore\nHandleLidSwitchExternalPower=ignore\n") << allIgnored;
    }

    void anAdministratorsOwnIgnoreStillLetsOursGo()
    {
        QFETCH(QByteArray, localContents);
        QFETCH(QStringList, reported);
        if (geteuid() != 0)
            QSKIP("writing needs root; CI runs the tests as root");
        QTemporaryDir configDir;
        QVERIFY(configDir.isValid());
        QFile file(QDir(configDir.path()).filePath(QStringLiteral("50-local.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(localContents);
        file.close();
        QVERIFY2(startLogindWithLid(reported), qPrintable(error));
        DBusMock *systemd = startSystemd(configDir.path(), true);
        QVERIFY2(systemd, qPrintable(error));
        const QStringList prefix{ QStringLiteral("--config-dir"), configDir.path(), QStringLiteral("-a"),
            QStringLiteral("disablesleep") };

        Run result = run(prefix + QStringList{ QStringLiteral("1") });
        QVERIFY2(result.status == 0, result.err.constData());
        QVERIFY(QFile::exists(QDir(configDir.path()).filePath(dropIn)));

        // Ours goes, logind reloads, and the lid stays ignored by the administrator's own setting.
        result = run(prefix + QStringList{ QStringLiteral("0") });
        QVERIFY2(result.status == 0, result.err.constData());
        QVERIFY(!QFile::exists(QDir(configDir.path()).filePath(dropIn)));
        QCOMPARE(systemd->callsOf(QStringLiteral("KillUnit")).size(), 2);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), localContents);
        QCOMPARE(run({ QStringLiteral("-g") }).out.split('\n').value(1), QByteArray(" SleepDisabled 1"));
    }

    void givingBackWithoutAReloadKeepsTheDropInGone_data()
    {
        QTest::addColumn<bool>("withSystemd");
        QTest::addColumn<bool>("withLogind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("why");
        QTest::newRow("systemd cannot be asked") << false << true << 75 << QByteArray("cannot make logind reload");
        // Nothing to reload: logind reads the folder, without ours, when it starts.
        QTest::newRow("logind is not running") << true << false << 0 << QByteArray();
    }

    // Giving back only ever removes the drop-in: a reload that cannot be
    // confirmed is reported (75, for the helper to ask again), and the
    // drop-in never comes back, where it would outlive its marker.
    void givingBackWithoutAReloadKeepsTheDropInGone()
    {
        QFETCH(bool, withSystemd);
        QFETCH(bool, withLogind);
        QFETCH(int, status);
        QFETCH(QByteArray, why);
        if (geteuid() != 0)
            QSKIP("writing needs root; CI runs the tests as root");
        QTemporaryDir configDir;
        QVERIFY(configDir.isValid());
        QFile file(QDir(configDir.path()).filePath(dropIn));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "[Login]\nHandleLidSwitch=ignore\nHandleLidSwitchExternalPower=ignore\nHandleLidSwitchDocked=ignore\n");
        file.close();
        if (withLogind)
            QVERIFY2(startLogindWithLid(allIgnored), qPrintable(error));
        if (withSystemd)
            QVERIFY2(startSystemd(configDir.path(), false), qPrintable(error));

        const Run result = run({ QStringLiteral("--config-dir"), configDir.path(), QStringLiteral("-a"),
            QStringLiteral("disablesleep"), QStringLiteral("0") });
        QCOMPARE(result.status, status);
        QVERIFY2(result.err.contains(why), result.err.constData());
        QVERIFY(!file.exists());
    }

    // One writer at a time: a change waits for the lock another writer
    // holds, and goes ahead once it is let go.
    void writersTakeTurns()
    {
        if (geteuid() != 0)
            QSKIP("writing needs root; CI runs the tests as root");
        QTemporaryDir configDir;
        QVERIFY(configDir.isValid());
        QVERIFY2(startLogindWithLid({ QStringLiteral("suspend"), QStringLiteral("suspend"), QStringLiteral("ignore") }),
            qPrintable(error));
        QVERIFY2(startSystemd(configDir.path(), true), qPrintable(error));
        QVERIFY(QDir().mkpath(QFileInfo(lockPath()).path()));
        const int held = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(held >= 0);
        QCOMPARE(::flock(held, LOCK_EX), 0);

        QProcess writer;
        writer.setProcessEnvironment(buses->environment());
        writer.start(pmset,
            { QStringLiteral("--lock-file"), lockPath(), QStringLiteral("--config-dir"), configDir.path(),
                QStringLiteral("-a"), QStringLiteral("disablesleep"), QStringLiteral("1") });
        QVERIFY(writer.waitForStarted());
        QVERIFY(!writer.waitForFinished(700));
        QVERIFY(!QFile::exists(QDir(configDir.path()).filePath(dropIn)));

        ::close(held);
        QVERIFY(writer.waitForFinished(15000));
        QCOMPARE(writer.exitCode(), 0);
        QVERIFY(QFile::exists(QDir(configDir.path()).filePath(dropIn)));
    }

    void anUnsafeLockFolderIsRefused()
    {
        if (geteuid() != 0)
            QSKIP("writing needs root; CI runs the tests as root");
        QTemporaryDir configDir;
        QVERIFY(configDir.isValid());
        QVERIFY(QDir().mkpath(QFileInfo(lockPath()).path()));
        QVERIFY(QFile::setPermissions(QFileInfo(lockPath()).path(), QFileDevice::Permissions(0x7777)));
        const Run result = run({ QStringLiteral("--config-dir"), configDir.path(), QStringLiteral("-a"),
            QStringLiteral("disablesleep"), QStringLiteral("0") });
        QVERIFY(QFile::setPermissions(QFileInfo(lockPath()).path(), QFileDevice::Permissions(0x7755)));
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains("unsafe lock folder"), result.err.constData());
    }

    void aChangeLogindDoesNotTakeUpIsUndone()
    {
        if (geteuid() != 0)
            QSKIP("writing needs root; CI runs the tests as root");
        QTemporaryDir configDir;
        QVERIFY(configDir.isValid());
        DBusMock *logind
            = startLogindWithLid({ QStringLiteral("suspend"), QStringLiteral("suspend"), QStringLiteral("ignore") });
        QVERIFY2(logind, qPrintable(error));
        QVERIFY2(startSystemd(configDir.path(), false), qPrintable(error));

        const Run result = run({ QStringLiteral("--config-dir"), configDir.path(), QStringLiteral("-a"),
            QStringLiteral("disablesleep"), QStringLiteral("1") });
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains("logind still reports SleepDisabled 0"), result.err.constData());
        QVERIFY(!QFile::exists(QDir(configDir.path()).filePath(dropIn)));
    }

    void aWriteWithoutRootIsRefused()
    {
        QTemporaryDir configDir;
        QVERIFY(configDir.isValid());
        // Writable by anyone, so only the refusal can keep it empty.
        QVERIFY(QFile::setPermissions(configDir.path(), QFileDevice::Permissions(0x7777)));
        QStringList prefix;
        if (geteuid() == 0) {
            prefix = QStringList{ QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups") };
            // The command must be able to run as nobody at all for this to mean anything.
            const Run probe = run({}, prefix);
            if (probe.status != 64)
                QSKIP(qPrintable(QStringLiteral("cannot run wakora-pmset as nobody with setpriv: %1")
                                     .arg(QString::fromUtf8(probe.err))));
        }
        for (const char *value : { "1", "0" }) {
            const Run result = run({ QStringLiteral("--config-dir"), configDir.path(), QStringLiteral("-a"),
                                       QStringLiteral("disablesleep"), QString::fromLatin1(value) },
                prefix);
            QCOMPARE(result.status, 77);
            QVERIFY2(result.err.contains("needs root"), result.err.constData());
        }
        QVERIFY(QDir(configDir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
};

QTEST_GUILESS_MAIN(TestWakoraPmset)
#include "tst_wakorapmset.moc"
