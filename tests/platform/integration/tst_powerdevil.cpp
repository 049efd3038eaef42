#include "EndProcess.h"
#include "InhibitHolder.h"
#include "InhibitMocks.h"
#include "InhibitorPowerControl.h"
#include "MenuBarService.h"
#include "PowerController.h"
#include "RealPowerDevil.h"
#include "StartOrSkip.h"
#include "SystemPowerStatus.h"
#include "SystemRunningApplications.h"

#include <QCoreApplication>
#include <QTest>

#include <unistd.h>

using namespace InhibitMocks;
using namespace Qt::StringLiterals;

char *toString(const ProcessAssertion &assertion)
{
    return qstrdup(qPrintable(u"{%1, %2, \"%3\", %4}"_s.arg(assertion.pid)
                                  .arg(assertion.type, assertion.reason,
                                      assertion.processName ? u"\""_s + *assertion.processName + u'"' : u"-"_s)));
}

namespace QTest {
template <> char *toString(const RealPowerDevil::Inhibition &inhibition)
{
    return qstrdup(qPrintable(u"(%1, %2)"_s.arg(inhibition.first, inhibition.second)));
}
} // namespace QTest

// Wakora against the real PowerDevil (KDE Plasma's power daemon) on private
// buses, with logind granting "block-weak": which kinds PowerDevil holds for
// us, what it gives back, and how its list reads in Wakora's.
class TestPowerDevil : public QObject
{
    Q_OBJECT

    XvfbDisplay display;
    std::unique_ptr<MockBuses> buses;
    std::unique_ptr<RealPowerDevil> powerDevil;
    QTemporaryDir folder;
    QString error;

    const RealPowerDevil::Inhibition ourSleep{ u"Wakora"_s, u"Wakora: prevent system sleep"_s };
    const RealPowerDevil::Inhibition ourDisplay{ u"Wakora"_s, u"Wakora: prevent display sleep"_s };

    PrivateBus &session() { return buses->bus(MockBuses::session); }

    std::shared_ptr<InhibitorPowerControl> wakoraControl()
    {
        return std::make_shared<InhibitorPowerControl>(
            buses->bus(MockBuses::system).newConnection(), session().newConnection(), InhibitorPowerControl::Options{});
    }

    // Wakora's locks at logind, by mode.
    QStringList wakoraLocks()
    {
        QStringList modes;
        const auto locks = logindInhibitors(powerDevil->logind()).value_or(QList<LogindInhibitor>{});
        for (const LogindInhibitor &lock : locks)
            if (lock.who == u"Wakora")
                modes.append(lock.what + u' ' + lock.mode);
        modes.sort();
        return modes;
    }

    bool screenSaverIsThere() { return session().connection().interface()->isServiceRegistered(screenSaverService); }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString reason = MockBuses::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        WAKORA_START_OR_SKIP(display.start());
        QVERIFY(folder.isValid());
    }

    void init()
    {
        buses = std::make_unique<MockBuses>();
        QVERIFY2(buses->start(&error), qPrintable(error));
        powerDevil = std::make_unique<RealPowerDevil>();
        WAKORA_START_OR_SKIP(powerDevil->start(*buses, display, true));
        qInfo("PowerDevil answered %lld ms after it started", powerDevil->startupMs());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            powerDevil->printLogs();
        powerDevil.reset();
        buses.reset();
    }

    // System sleep through PowerDevil's freedesktop service, the display
    // through its PolicyAgent (no screen saver runs beside it): both in its
    // own list, nothing of ours at logind, and both given back on off.
    void wakoraHoldsBothKindsInPowerDevil()
    {
        QVERIFY(!screenSaverIsThere());
        auto control = wakoraControl();
        PowerController controller(control);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::displaySleep)));

        QCOMPARE(powerDevil->listed({ ourSleep, ourDisplay }), (QList{ ourDisplay, ourSleep }));
        QCOMPARE(powerDevil->hasInhibition(RealPowerDevil::interruptSession), std::optional(true));
        QCOMPARE(powerDevil->hasInhibition(RealPowerDevil::changeScreenSettings), std::optional(true));
        QCOMPARE(wakoraLocks(), QStringList{});

        QCoro::waitFor(controller.releaseAll());
        QCOMPARE(powerDevil->listed({}), QList<RealPowerDevil::Inhibition>{});
        QCOMPARE(powerDevil->hasInhibition(RealPowerDevil::interruptSession), std::optional(false));
        QCOMPARE(powerDevil->hasInhibition(RealPowerDevil::changeScreenSettings), std::optional(false));
        QCOMPARE(wakoraLocks(), QStringList{});
    }

    // The display alone: PowerDevil's screen policy, and not logind's idle
    // lock, which Plasma never consults.
    void displayGoesToPowerDevilWithoutAScreenSaver()
    {
        QVERIFY(!screenSaverIsThere());
        auto control = wakoraControl();
        PowerController controller(control);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::displaySleep)));

        QCOMPARE(powerDevil->listed({ ourDisplay }), QList{ ourDisplay });
        QCOMPARE(powerDevil->hasInhibition(RealPowerDevil::changeScreenSettings), std::optional(true));
        // PowerDevil's screen policy holds off suspending too.
        QCOMPARE(powerDevil->hasInhibition(RealPowerDevil::interruptSession), std::optional(true));
        QCOMPARE(wakoraLocks(), QStringList{});

        QVERIFY(QCoro::waitFor(controller.toggle(false, AssertionKind::displaySleep)));
        QCOMPARE(powerDevil->listed({}), QList<RealPowerDevil::Inhibition>{});
    }

    // PowerDevil killed while both kinds are on, then started again: the
    // switches stay on meanwhile, and the hold goes back to PowerDevil,
    // leaving nothing of ours at logind.
    void holdReturnsToARestartedPowerDevil()
    {
        auto control = wakoraControl();
        PowerController controller(control);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::displaySleep)));
        QCOMPARE(powerDevil->listed({ ourSleep, ourDisplay }), (QList{ ourDisplay, ourSleep }));

        powerDevil->kill();
        QTRY_COMPARE(wakoraLocks(), (QStringList{ u"idle block-weak"_s, u"sleep block-weak"_s }));
        QVERIFY(controller.isEnabled(AssertionKind::systemSleep));
        QVERIFY(controller.isEnabled(AssertionKind::displaySleep));

        WAKORA_START_OR_SKIP(powerDevil->restart());
        // Both kinds move back to it; logind's locks are given back after.
        QCOMPARE(powerDevil->listed({ ourSleep, ourDisplay }), (QList{ ourDisplay, ourSleep }));
        QTRY_COMPARE(wakoraLocks(), QStringList{});
        QVERIFY(controller.isEnabled(AssertionKind::systemSleep));
        QVERIFY(controller.isEnabled(AssertionKind::displaySleep));
        QCoro::waitFor(controller.releaseAll());
        QCOMPARE(powerDevil->listed({}), QList<RealPowerDevil::Inhibition>{});
    }

    // PowerDevil's list as Wakora's status reads it: which application, by
    // its desktop entry and process; what each holds off though the list
    // does not say; PowerDevil's copy of a logind lock shown once, from
    // logind; ours under the agent's pid.
    void whoKeepsItAwake()
    {
        const QString bin = folder.filePath(u"bin"_s);
        const QString data = folder.filePath(u"share"_s);
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(data + u"/applications"_s));
        // Firefox ESR's entry and program; a copy of sleep stands in for the browser.
        const QString firefox = bin + u"/firefox-esr"_s;
        QFile::remove(firefox);
        QVERIFY(QFile::copy(u"/bin/sleep"_s, firefox));
        QFile entry(data + u"/applications/firefox-esr.desktop"_s);
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Firefox ESR\nExec=" + firefox.toUtf8() + " %u\n");
        entry.close();
        const QString script = folder.filePath(u"holder.py"_s);
        QVERIFY(InhibitHolder::install(script));

        QProcess browser;
        browser.start(firefox, { u"600"_s });
        QVERIFY(browser.waitForStarted());
        // The browser's video keeps the screen on, as Plasma's screen
        // locker asks PowerDevil for it; a backup holds a block lock at logind.
        InhibitHolder video;
        QCOMPARE(video.start(script, buses->environment(), { u"policy"_s, u"4"_s, u"Firefox"_s, u"Playing video"_s }),
            QString());
        InhibitHolder backup;
        QCOMPARE(backup.start(script, buses->environment(),
                     { u"logind"_s, u"sleep"_s, u"backup"_s, u"Copying files"_s, u"block"_s }),
            QString());
        QDBusConnection agent = session().newConnection();
        QVERIFY(agent.registerService(MenuBarService::machServiceName()));
        auto control = wakoraControl();
        PowerController controller(control);
        QVERIFY(QCoro::waitFor(controller.toggle(true, AssertionKind::systemSleep)));

        const RealPowerDevil::Inhibition copy{ u"backup"_s, u"Copying files"_s };
        const RealPowerDevil::Inhibition playing{ u"Firefox"_s, u"Playing video"_s };
        QCOMPARE(powerDevil->listed({ copy, playing, ourSleep }), (QList{ playing, ourSleep, copy }));

        SystemRunningApplications::Sources sources;
        sources.procRoot = u"/proc"_s;
        sources.dataDirs = QStringList{ data };
        sources.searchPath = QStringList{ bin };
        sources.locale = QLocale::c();
        sources.uid = ::getuid();
        SystemPowerStatus status(buses->bus(MockBuses::system).newConnection(), session().newConnection(),
            std::make_shared<SystemRunningApplications>(sources), QStringLiteral(WAKORA_PMSET_BUILD_PATH));
        const auto read = QCoro::waitFor(status.assertions());
        QVERIFY(read);

        QList<ProcessAssertion> expected{
            { qint32(QCoreApplication::applicationPid()), u"sleep"_s, ourSleep.second, u"Wakora"_s },
            { qint32(browser.processId()), u"sleep:idle"_s, u"Playing video"_s, u"Firefox ESR"_s },
            { backup.pid(), u"sleep"_s, u"Copying files"_s, u"backup"_s },
        };
        std::sort(expected.begin(), expected.end(),
            [](const ProcessAssertion &a, const ProcessAssertion &b) { return a.pid < b.pid; });
        QCOMPARE(read.value(), expected);

        QCoro::waitFor(controller.releaseAll());
        endProcess(browser, 1000);
    }
};

QTEST_GUILESS_MAIN(TestPowerDevil)

#include "tst_powerdevil.moc"
