#include "FullscreenTrigger.h"

#include "EndProcess.h"
#include "XvfbDisplay.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

// The fullscreen trigger against a real window manager (Openbox) on an X
// server of the test's own, with windows of a real X client (xmessage) made
// fullscreen, activated and renamed by wmctrl and xprop as a pager would.
class TestFullscreenTriggerOnX11 : public QObject
{
    Q_OBJECT

    XvfbDisplay display;
    QProcess windowManager;
    std::vector<std::unique_ptr<QProcess>> windows;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        environment.insert(QStringLiteral("DISPLAY"), display.name());
        return environment;
    }

    // A tool's output, or a failure with what it said.
    QByteArray run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(program, arguments);
        if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            qWarning().noquote() << program << arguments << "failed:" << process.readAllStandardError();
        return process.readAllStandardOutput();
    }

    void wmctrl(const QStringList &arguments) { run(QStringLiteral("wmctrl"), arguments); }

    void openWindow(const QString &title)
    {
        auto client = std::make_unique<QProcess>();
        client->setProcessEnvironment(environment());
        client->start(QStringLiteral("xmessage"), { QStringLiteral("-title"), title, title });
        QVERIFY(client->waitForStarted(5000));
        windows.push_back(std::move(client));
        // Mapped and managed once the window manager lists it.
        QTRY_VERIFY_WITH_TIMEOUT(
            run(QStringLiteral("wmctrl"), { QStringLiteral("-l") }).contains(title.toUtf8()), 10000);
    }

    QString windowId(const QString &title)
    {
        const QList<QByteArray> lines = run(QStringLiteral("wmctrl"), { QStringLiteral("-l") }).split('\n');
        for (const QByteArray &line : lines)
            if (line.endsWith(title.toUtf8()))
                return QString::fromLatin1(line.left(line.indexOf(' ')));
        return QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const auto &[program, package] : { std::pair{ "openbox", "openbox" }, { "wmctrl", "wmctrl" },
                 { "xmessage", "x11-utils" }, { "xprop", "x11-utils" } })
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("not installed: %1 (Debian: %2)")
                                     .arg(QLatin1String(program), QLatin1String(package))));
        if (const QString why = display.start(); !why.isEmpty()) {
            if (why.contains(QStringLiteral("not installed")))
                QSKIP(qPrintable(why));
            QFAIL(qPrintable(why));
        }
        windowManager.setProcessEnvironment(environment());
        windowManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        windowManager.start(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") });
        QVERIFY(windowManager.waitForStarted(5000));
        // Ready once it announces itself on the root window, as EWMH asks;
        // slow beside other suites on a busy machine, and failing at once
        // if it ended.
        QTRY_VERIFY2_WITH_TIMEOUT(windowManager.state() != QProcess::Running
                || run(QStringLiteral("wmctrl"), { QStringLiteral("-m") }).contains("Openbox"),
            "Openbox did not announce itself", 45000);
        QVERIFY2(windowManager.state() == QProcess::Running,
            qPrintable(QStringLiteral("Openbox ended with status %1").arg(windowManager.exitCode())));
    }

    void cleanupTestCase()
    {
        for (auto &client : windows)
            endProcess(*client);
        windows.clear();
        endProcess(windowManager);
        display.stop();
    }

    void followsTheActiveWindowAndItsFullscreenState()
    {
        const QString film = QStringLiteral("wakora-film");
        const QString other = QStringLiteral("wakora-other");
        openWindow(film);
        openWindow(other);

        FullscreenTrigger trigger(QDBusConnection(QStringLiteral("no bus")), environment());
        QCOMPARE(trigger.unavailable(), std::nullopt);
        QSignalSpy changes(&trigger, &Trigger::activeChanged);
        trigger.start({});
        QVERIFY(trigger.isWatching());
        QVERIFY(!trigger.isActive());

        wmctrl({ QStringLiteral("-a"), film });
        wmctrl({ QStringLiteral("-r"), film, QStringLiteral("-b"), QStringLiteral("add,fullscreen") });
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 5000);
        QCOMPARE(trigger.subject(), film);

        // A title in UTF-8 (_NET_WM_NAME) wins over WM_NAME, and is followed as it changes.
        run(QStringLiteral("xprop"),
            { QStringLiteral("-id"), windowId(film), QStringLiteral("-f"), QStringLiteral("_NET_WM_NAME"),
                QStringLiteral("8u"), QStringLiteral("-set"), QStringLiteral("_NET_WM_NAME"),
                QStringLiteral("영화 보기") });
        QTRY_COMPARE_WITH_TIMEOUT(trigger.subject(), QStringLiteral("영화 보기"), 5000);
        QVERIFY(trigger.isActive());

        // Another window in front: nothing fullscreen is active.
        wmctrl({ QStringLiteral("-a"), other });
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 5000);
        QCOMPARE(trigger.subject(), QString());

        // Back to the film, still fullscreen.
        wmctrl({ QStringLiteral("-a"), QStringLiteral("영화 보기") });
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 5000);

        // Left fullscreen while in front.
        wmctrl({ QStringLiteral("-r"), QStringLiteral("영화 보기"), QStringLiteral("-b"),
            QStringLiteral("remove,fullscreen") });
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 5000);
        const qsizetype seen = changes.size();
        QVERIFY2(seen >= 5, qPrintable(QString::number(seen)));

        // A window already fullscreen when watching starts counts at once.
        trigger.stop();
        QVERIFY(!trigger.isWatching());
        wmctrl({ QStringLiteral("-a"), other });
        wmctrl({ QStringLiteral("-r"), other, QStringLiteral("-b"), QStringLiteral("add,fullscreen") });
        QTest::qWait(500);
        QCOMPARE(changes.size(), seen); // stopped: it heard nothing
        QVERIFY(!trigger.isActive());
        trigger.start({});
        QVERIFY(trigger.isActive());
        QCOMPARE(trigger.subject(), other);

        // Stopping while active ends the activity without a word.
        trigger.stop();
        QVERIFY(!trigger.isActive());
        QCOMPARE(changes.size(), seen + 1);
        wmctrl({ QStringLiteral("-r"), other, QStringLiteral("-b"), QStringLiteral("remove,fullscreen") });
        QTest::qWait(300);
        QCOMPARE(changes.size(), seen + 1);
    }

    void theServerGoingAwayEndsTheActivity()
    {
        FullscreenTrigger trigger(QDBusConnection(QStringLiteral("no bus")), environment());
        wmctrl({ QStringLiteral("-a"), QStringLiteral("wakora-other") });
        wmctrl({ QStringLiteral("-r"), QStringLiteral("wakora-other"), QStringLiteral("-b"),
            QStringLiteral("add,fullscreen") });
        trigger.start({});
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 5000);
        display.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 5000);
        QVERIFY(!trigger.isWatching());
    }
};

QTEST_GUILESS_MAIN(TestFullscreenTriggerOnX11)
#include "tst_fullscreentrigger.moc"
