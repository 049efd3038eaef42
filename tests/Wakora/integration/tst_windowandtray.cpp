#include "AccessibleTree.h"
#include "AgentHarness.h"
#include "EndProcess.h"
#include "StartOrSkip.h"
#include "TrayMenu.h"
#include "XvfbDisplay.h"

#include <QTest>

#include <csignal>

// The real bin/Wakora on an X display, used as a person with a screen reader
// uses it: through its accessibility tree. It finds the agent off, starts it
// with the notice's button, and switches "잠자기 방지" on and off; the mocked
// logind holds the inhibitor and the agent's tray menu shows the check.
class TestWindowAndTray : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    std::unique_ptr<XvfbDisplay> display;
    std::unique_ptr<AccessibilityBus> accessibility;
    std::unique_ptr<TrayMenu> tray;
    std::unique_ptr<QProcess> window;
    QString windowLog;

    static QString sleepLabel() { return QStringLiteral("잠자기 방지"); }

    qint64 agentPid()
    {
        if (!harness->agentOwnsName())
            return 0;
        return harness->session().interface()->servicePid(MenuBarService::machServiceName()).value();
    }

    std::optional<AccessibleNode> node(const QString &name, const QString &role)
    {
        const QString application = accessibility->applicationOf(window->processId());
        return application.isEmpty() ? std::nullopt : accessibility->find(application, name, role);
    }

    bool sleepSwitchIs(AccessibleNode::State state, bool set)
    {
        const auto sleepSwitch = node(sleepLabel(), QStringLiteral("check box"));
        return sleepSwitch && sleepSwitch->has(state) == set;
    }

    bool inhibitorHeld()
    {
        const auto held = harness->inhibitors();
        return held.size() == 1 && held.first().what == u"sleep" && held.first().who == u"Wakora";
    }

private Q_SLOTS:
    void init()
    {
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
        display = std::make_unique<XvfbDisplay>();
        WAKORA_START_OR_SKIP(display->start());
        accessibility = std::make_unique<AccessibilityBus>();
        QCOMPARE(accessibility->start(harness->buses), QString());
        tray = std::make_unique<TrayMenu>();
        QCOMPARE(tray->start(harness->buses), QString());

        QProcessEnvironment environment = harness->environment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), display->name());
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        window = std::make_unique<QProcess>();
        window->setProcessEnvironment(environment);
        window->setProcessChannelMode(QProcess::MergedChannels);
        window->start(AgentHarness::locations().mainApplication(), {});
        QVERIFY2(window->waitForStarted(5000), qPrintable(window->errorString()));
    }

    void cleanup()
    {
        if (window)
            windowLog += QString::fromUtf8(endProcess(*window));
        // The window started the agent on its own: end it through its pid.
        if (harness) {
            if (const qint64 pid = agentPid(); pid > 0) {
                ::kill(pid_t(pid), SIGTERM);
                QTRY_VERIFY_WITH_TIMEOUT(!harness->agentOwnsName(), 10000);
            }
        }
        if (QTest::currentTestFailed() && harness) {
            harness->printLogs();
            qInfo().noquote() << "---- Wakora ----\n" << windowLog;
        }
        window.reset();
        tray.reset();
        accessibility.reset();
        display.reset();
        harness.reset();
    }

    void theWindowStartsTheAgentAndSwitchesThroughIt()
    {
        // Without the agent the switches are off limits and the notice offers to start it.
        QTRY_VERIFY_WITH_TIMEOUT(node(QStringLiteral("다시 켜기"), QStringLiteral("push button")).has_value(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(
            node(QStringLiteral("다시 켜기"), QStringLiteral("push button"))->has(AccessibleNode::showing), 10000);
        QVERIFY(sleepSwitchIs(AccessibleNode::sensitive, false));
        QVERIFY(!harness->agentOwnsName());

        QString error;
        QVERIFY2(accessibility->doAction(*node(QStringLiteral("다시 켜기"), QStringLiteral("push button")),
                     QStringLiteral("Press"), &error),
            qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(harness->agentOwnsName(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(sleepSwitchIs(AccessibleNode::sensitive, true), 15000);
        QVERIFY(!node(QStringLiteral("다시 켜기"), QStringLiteral("push button"))->has(AccessibleNode::showing));
        QTRY_COMPARE_WITH_TIMEOUT(tray->toggleState(sleepLabel()), std::optional<int>(0), 15000);
        QVERIFY(harness->inhibitors().isEmpty());

        // On: the agent holds logind's inhibitor, and both the window and the tray say so.
        QVERIFY2(
            accessibility->doAction(*node(sleepLabel(), QStringLiteral("check box")), QStringLiteral("Toggle"), &error),
            qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(inhibitorHeld(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(sleepSwitchIs(AccessibleNode::checked, true), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(tray->toggleState(sleepLabel()), std::optional<int>(1), 10000);
        QVERIFY(node(QStringLiteral("Mac이 깨어 있습니다"), QStringLiteral("label")).has_value());

        // Off again: given back everywhere.
        QVERIFY2(
            accessibility->doAction(*node(sleepLabel(), QStringLiteral("check box")), QStringLiteral("Toggle"), &error),
            qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(sleepSwitchIs(AccessibleNode::checked, false), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(tray->toggleState(sleepLabel()), std::optional<int>(0), 10000);
    }

    void aTimerFromTheTrayOutlivesTheWindow()
    {
        QTRY_VERIFY_WITH_TIMEOUT(node(QStringLiteral("다시 켜기"), QStringLiteral("push button")).has_value(), 20000);
        QString error;
        QVERIFY2(accessibility->doAction(*node(QStringLiteral("다시 켜기"), QStringLiteral("push button")),
                     QStringLiteral("Press"), &error),
            qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(harness->agentOwnsName(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(tray->toggleState(sleepLabel()), std::optional<int>(0), 15000);

        // "시간 지정" → "2시간" in the tray: held, and the time left shows in
        // the tray's menu and beneath the window's header.
        QVERIFY(tray->click(QStringLiteral("2시간")));
        QTRY_VERIFY_WITH_TIMEOUT(inhibitorHeld(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(tray->toggleState(sleepLabel()), std::optional<int>(1), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(tray->shows(QStringLiteral("2시간 남음")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(node(QStringLiteral("2시간 남음"), QStringLiteral("label")).has_value(), 10000);

        // The window quits; the agent keeps the session and says so.
        windowLog += QString::fromUtf8(endProcess(*window));
        QVERIFY(inhibitorHeld());
        QProcess status;
        status.setProcessEnvironment(harness->environment());
        status.start(AgentHarness::locations().commandLine(), { QStringLiteral("status") });
        QVERIFY(status.waitForFinished(20000));
        const QString said = QString::fromUtf8(status.readAllStandardOutput());
        QVERIFY2(said.contains(QStringLiteral("남음")), qPrintable(said));

        // "타이머 취소" ends it: what the timer turned on goes off.
        QVERIFY(tray->click(QStringLiteral("타이머 취소")));
        QTRY_VERIFY_WITH_TIMEOUT(harness->inhibitors().isEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!tray->shows(QStringLiteral("타이머 취소")), 10000);
    }
};

QTEST_MAIN(TestWindowAndTray)
#include "tst_windowandtray.moc"
