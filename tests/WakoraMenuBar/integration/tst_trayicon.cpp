#include "AgentHarness.h"
#include "Contrast.h"
#include "RealXfcePanel.h"
#include "StartOrSkip.h"
#include "XvfbDisplay.h"

#include <QDBusInterface>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The agent's tray icon in the real xfce4-panel, on a dark and on a light
// panel: the panel finds the icon by name in the installed theme and draws
// it in its own colours, and the test measures what the X server shows.
class TestTrayIcon : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    std::unique_ptr<XvfbDisplay> display;
    std::unique_ptr<RealXfcePanel> panel;
    std::unique_ptr<QProcess> agent;

    QStringList registeredItems()
    {
        QDBusInterface watcher(QStringLiteral("org.kde.StatusNotifierWatcher"),
            QStringLiteral("/StatusNotifierWatcher"), QStringLiteral("org.kde.StatusNotifierWatcher"),
            harness->session());
        return watcher.property("RegisteredStatusNotifierItems").toStringList();
    }

private Q_SLOTS:
    void cleanup()
    {
        if (agent) {
            agent->terminate();
            agent->waitForFinished(5000);
        }
        if (QTest::currentTestFailed()) {
            if (agent)
                qInfo().noquote() << "---- agent ----\n" << QString::fromUtf8(agent->readAll());
            if (panel)
                qInfo().noquote() << "---- panel ----\n" << panel->log();
        }
        agent.reset();
        panel.reset();
        display.reset();
        harness.reset();
    }

    void theIconStandsOutOnThePanel_data()
    {
        QTest::addColumn<QString>("theme");
        QTest::newRow("dark panel") << QStringLiteral("Adwaita:dark");
        QTest::newRow("light panel") << QStringLiteral("Adwaita");
    }

    void theIconStandsOutOnThePanel()
    {
        QFETCH(QString, theme);
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
        display = std::make_unique<XvfbDisplay>();
        WAKORA_START_OR_SKIP(display->start());
        panel = std::make_unique<RealXfcePanel>();
        WAKORA_START_OR_SKIP(
            panel->start(harness->buses, *display, theme, QStringLiteral(WAKORA_BUILD_PREFIX "/share")));

        // The build tree's share/ holds the icons as an installation does.
        QProcessEnvironment environment = harness->environment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), display->name());
        environment.insert(QStringLiteral("XDG_DATA_DIRS"),
            QStringLiteral(WAKORA_BUILD_PREFIX "/share:")
                + qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/share")));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        agent = std::make_unique<QProcess>();
        agent->setProcessEnvironment(environment);
        agent->setProcessChannelMode(QProcess::MergedChannels);
        agent->start(AgentHarness::locations().agent(), {});
        QVERIFY2(agent->waitForStarted(5000), qPrintable(agent->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(!registeredItems().isEmpty(), 15000);
        QTest::qWait(1500); // the panel looks the icon up and draws it

        QTemporaryDir folder;
        const QString shotPath = folder.filePath(QStringLiteral("screen.png"));
        QProcess grab;
        QProcessEnvironment grabEnvironment = QProcessEnvironment::systemEnvironment();
        grabEnvironment.insert(QStringLiteral("DISPLAY"), display->name());
        grab.setProcessEnvironment(grabEnvironment);
        grab.start(
            QStringLiteral(WAKORA_BUILD_PREFIX "/tools/wakora-screen-grab"), { QStringLiteral("--whole"), shotPath });
        QVERIFY(grab.waitForFinished(20000));
        QCOMPARE(grab.exitCode(), 0);
        const QImage shot(shotPath);
        QVERIFY(!shot.isNull());

        // The tray is the panel's one plugin, at its left end; the panel's
        // colour is the strip's commonest.
        const QRect tray(0, 0, 4 * RealXfcePanel::height, RealXfcePanel::height);
        const double panelLightness = QColor(shot.pixel(tray.right(), tray.center().y())).lightnessF();
        QCOMPARE(panelLightness < 0.5, theme.endsWith(QLatin1String(":dark")));
        const double contrast = Contrast::ofInk(shot, tray);
        qInfo("icon against the panel: %.2f:1", contrast);
        QVERIFY2(contrast >= 3.0, qPrintable(QString::number(contrast)));
    }
};

QTEST_GUILESS_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
