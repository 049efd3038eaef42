#include "AgentHarness.h"
#include "EndProcess.h"
#include "InhibitHolder.h"
#include "RealPowerDevil.h"
#include "StartOrSkip.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

// The real agent and wakora command against KDE Plasma's real power daemon,
// PowerDevil, on private buses: what the command tells of who keeps the
// machine awake, as a Plasma user's applications inhibit. logind is the
// mock of AgentHarness, which takes "block-weak".
class TestPlasmaSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    std::unique_ptr<XvfbDisplay> display;
    std::unique_ptr<RealPowerDevil> powerDevil;
    QString error;

private Q_SLOTS:
    void init()
    {
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
        display = std::make_unique<XvfbDisplay>();
        WAKORA_START_OR_SKIP(display->start());
        powerDevil = std::make_unique<RealPowerDevil>();
        WAKORA_START_OR_SKIP(powerDevil->start(harness->buses, *display, true, harness->logind));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            harness->printLogs();
            powerDevil->printLogs();
        }
        powerDevil.reset();
        harness.reset();
        display.reset();
    }

    // A browser plays a video (the screen, through PowerDevil's PolicyAgent,
    // as Plasma's screen locker forwards it) while Wakora holds system sleep.
    void statusSaysWhoHoldsWhatAndWhy()
    {
        // Firefox ESR's entry in the agent's data folder, and a copy of sleep as its program.
        const QString bin = harness->home.filePath(u"bin"_s);
        const QString applications = harness->home.filePath(u"data/applications"_s);
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(applications));
        const QString firefox = bin + u"/firefox-esr"_s;
        QVERIFY(QFile::copy(u"/bin/sleep"_s, firefox));
        QFile entry(applications + u"/firefox-esr.desktop"_s);
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Firefox ESR\nExec=" + firefox.toUtf8() + " %u\n");
        entry.close();
        QProcess browser;
        browser.start(firefox, { u"600"_s });
        QVERIFY(browser.waitForStarted());
        const QString script = harness->home.filePath(u"holder.py"_s);
        QVERIFY(InhibitHolder::install(script));
        InhibitHolder video;
        QCOMPARE(video.start(script, harness->environment(), { u"policy"_s, u"4"_s, u"Firefox"_s, u"Playing video"_s }),
            QString());

        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QCOMPARE(harness->wakora({ u"on"_s }), 0);
        const RealPowerDevil::Inhibition ourSleep{ u"Wakora"_s, u"Wakora: prevent system sleep"_s };
        const RealPowerDevil::Inhibition playing{ u"Firefox"_s, u"Playing video"_s };
        QCOMPARE(powerDevil->listed({ ourSleep, playing }), (QList{ playing, ourSleep }));

        QByteArray printed;
        QCOMPARE(harness->wakora({ u"status"_s, u"--json"_s }, &printed), 0);
        const QJsonObject status = QJsonDocument::fromJson(printed).object();
        QVERIFY2(!status.isEmpty(), printed.constData());
        // The keys it always had are still there.
        QCOMPARE(status.value(u"systemSleep"_s), QJsonValue(true));
        QCOMPARE(status.value(u"displaySleep"_s), QJsonValue(false));
        const qint64 agentPID = status.value(u"agentPID"_s).toInteger();
        QCOMPARE(agentPID, harness->agent->processId());
        const QJsonArray expected{
            QJsonObject{ { u"pid"_s, agentPID }, { u"name"_s, u"Wakora"_s }, { u"blocks"_s, u"sleep"_s },
                { u"reason"_s, ourSleep.second }, { u"ours"_s, true } },
            QJsonObject{ { u"pid"_s, browser.processId() }, { u"name"_s, u"Firefox ESR"_s },
                { u"blocks"_s, u"sleep:idle"_s }, { u"reason"_s, u"Playing video"_s }, { u"ours"_s, false } },
        };
        QJsonArray inhibitors = status.value(u"inhibitors"_s).toArray();
        // By pid, as the merged list is: the agent started after the browser.
        QCOMPARE(inhibitors, (agentPID < browser.processId() ? expected : QJsonArray{ expected[1], expected[0] }));

        QCOMPARE(harness->wakora({ u"status"_s }, &printed), 0);
        const QString text = QString::fromUtf8(printed);
        QVERIFY2(
            text.contains(
                u"  Firefox ESR — 화면을 켜 두는 중 (pid %1)\n    잠자기와 화면 꺼짐을 막는 중: Playing video\n"_s.arg(
                    browser.processId())),
            printed.constData());
        QVERIFY2(
            text.contains(
                u"  이 앱 — Mac을 깨워 두는 중 (pid %1)\n    잠자기를 막는 중: Wakora: prevent system sleep\n"_s.arg(
                    agentPID)),
            printed.constData());

        QCOMPARE(harness->wakora({ u"off"_s }), 0);
        QCOMPARE(powerDevil->listed({ playing }), QList{ playing });
        endProcess(browser, 1000);
    }
};

QTEST_GUILESS_MAIN(TestPlasmaSession)

#include "tst_plasmasession.moc"
