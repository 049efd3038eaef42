// The fullscreen trigger on a Wayland session of Plasma: a real KWin
// (kwin_wayland on its virtual output) on a private session bus, and real
// Wayland windows (this program again, as a Qt client) made fullscreen and
// back, retitled, covered and closed.

#include "DaemonProcess.h"
#include "FullscreenTrigger.h"
#include "KWinFullscreenScript.h"
#include "PrivateBus.h"
#include "StartOrSkip.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

const char *windowVariable = "WAKORA_TEST_WAYLAND_WINDOW";

// The Wayland client: a window titled as the variable says, which follows
// lines on its standard input: "fullscreen", "normal", "title <text>".
class CommandedWindow : public QRasterWindow
{
public:
    CommandedWindow()
        : m_input(STDIN_FILENO, QSocketNotifier::Read)
    {
        connect(&m_input, &QSocketNotifier::activated, this, &CommandedWindow::readCommand);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(QRect(QPoint(), size()), Qt::darkBlue); }

private:
    void readCommand()
    {
        char line[256];
        if (!std::fgets(line, sizeof line, stdin)) {
            QGuiApplication::quit();
            return;
        }
        const QString command = QString::fromUtf8(line).trimmed();
        if (command == QLatin1String("fullscreen"))
            showFullScreen();
        else if (command == QLatin1String("normal"))
            showNormal();
        else if (command.startsWith(QLatin1String("title ")))
            setTitle(command.mid(6));
    }

    QSocketNotifier m_input;
};

int runWindow(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    CommandedWindow window;
    window.setTitle(qEnvironmentVariable(windowVariable));
    window.resize(320, 200);
    window.show();
    return application.exec();
}

bool scriptLoaded(QDBusConnection bus, const QString &watcher)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"),
        QStringLiteral("org.kde.kwin.Scripting"), QStringLiteral("isScriptLoaded"));
    message << KWinFullscreenScript::pluginName(watcher);
    // An error's only argument is its text, which would read as true.
    const QDBusMessage reply = bus.call(message, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

} // namespace

class TestFullscreenOnKWin : public QObject
{
    Q_OBJECT

    QTemporaryDir directory;
    PrivateBus bus{ QStringLiteral("session") };
    DaemonProcess kwin{ QStringLiteral("kwin_wayland") };
    std::vector<std::unique_ptr<QProcess>> windows;
    const QString socket = QStringLiteral("wakora-test-wayland");

    QString runtimeDirectory() const { return directory.filePath(QStringLiteral("run")); }

    QProcessEnvironment sessionEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDirectory());
        environment.insert(QStringLiteral("HOME"), directory.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), directory.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
        return environment;
    }

    // Empty once KWin owns its name, else why not.
    QString startKWin()
    {
        // kwin_wayland carries a file capability, which a process under
        // no_new_privs (a container's, CI's) may not exec; a copy has none.
        const QString installed = QStringLiteral("/usr/bin/kwin_wayland");
        const QString copy = directory.filePath(QStringLiteral("kwin_wayland"));
        if (!QFile::exists(installed))
            return QStringLiteral("not installed: kwin_wayland (Debian: kwin-wayland)");
        if (!QFile::exists(copy) && !QFile::copy(installed, copy))
            return QStringLiteral("cannot copy kwin_wayland");
        return kwin.start(copy,
            { QStringLiteral("--virtual"), QStringLiteral("--no-lockscreen"), QStringLiteral("--no-global-shortcuts"),
                QStringLiteral("--no-kactivities"), QStringLiteral("--socket"), socket, QStringLiteral("--width"),
                QStringLiteral("1024"), QStringLiteral("--height"), QStringLiteral("768") },
            sessionEnvironment(), directory.filePath(QStringLiteral("kwin.log")), bus.connection(),
            QStringLiteral("org.kde.KWin"), QStringLiteral("kwin-wayland"), 30000);
    }

    QProcess *openWindow(const QString &title)
    {
        auto client = std::make_unique<QProcess>();
        QProcessEnvironment environment = sessionEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        environment.insert(QString::fromLatin1(windowVariable), title);
        client->setProcessEnvironment(environment);
        client->setProcessChannelMode(QProcess::ForwardedChannels);
        client->start(QCoreApplication::applicationFilePath(), {});
        if (!client->waitForStarted(5000))
            return nullptr;
        windows.push_back(std::move(client));
        return windows.back().get();
    }

    static void tell(QProcess *window, const QString &command)
    {
        window->write(command.toUtf8() + '\n');
        window->waitForBytesWritten(1000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(directory.isValid());
        QVERIFY(QDir().mkpath(runtimeDirectory()));
        QFile::setPermissions(runtimeDirectory(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QString error;
        if (!bus.start(directory.path(), &error))
            QFAIL(qPrintable(error));
        WAKORA_START_OR_SKIP(startKWin());
    }

    void cleanup()
    {
        for (auto &window : windows) {
            window->closeWriteChannel();
            if (!window->waitForFinished(3000)) {
                window->kill();
                window->waitForFinished(3000);
            }
        }
        windows.clear();
        if (QTest::currentTestFailed())
            kwin.printLog();
    }

    void cleanupTestCase() { kwin.stop(); }

    void followsTheActiveWindowThroughKWin()
    {
        QDBusConnection triggerBus = bus.newConnection();
        FullscreenTrigger trigger(triggerBus, sessionEnvironment());
        QCOMPARE(trigger.unavailable(), std::nullopt);
        trigger.start({});
        QVERIFY(trigger.isWatching());
        QTRY_VERIFY_WITH_TIMEOUT(scriptLoaded(bus.connection(), triggerBus.baseService()), 5000);
        QVERIFY(!trigger.isActive());

        QProcess *film = openWindow(QStringLiteral("wakora-film"));
        QVERIFY(film);
        QTest::qWait(1000); // mapped and activated
        QVERIFY(!trigger.isActive());
        tell(film, QStringLiteral("fullscreen"));
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 10000);
        QCOMPARE(trigger.subject(), QStringLiteral("wakora-film"));

        // The title is followed while fullscreen.
        tell(film, QStringLiteral("title 영화 보기"));
        QTRY_COMPARE_WITH_TIMEOUT(trigger.subject(), QStringLiteral("영화 보기"), 5000);

        // Another window in front: nothing fullscreen is active; closed, the film is back in front.
        QProcess *other = openWindow(QStringLiteral("wakora-other"));
        QVERIFY(other);
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 10000);
        other->closeWriteChannel();
        QVERIFY(other->waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 10000);
        QCOMPARE(trigger.subject(), QStringLiteral("영화 보기"));

        // Left fullscreen while in front.
        tell(film, QStringLiteral("normal"));
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 10000);

        // Only KWin may report: anyone else on the bus is refused and changes nothing.
        QDBusMessage forged = QDBusMessage::createMethodCall(triggerBus.baseService(),
            QString::fromLatin1(KWinFullscreenScript::objectPath),
            QStringLiteral("com.quorvel.WakoraApp.FullscreenReport"), QStringLiteral("Report"));
        forged << true << QStringLiteral("forged");
        // Asked without blocking: the trigger's connection answers from this thread.
        QDBusPendingCall refused = bus.connection().asyncCall(forged, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(refused.isFinished(), 6000);
        QCOMPARE(refused.error().name(), QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"));
        QTest::qWait(200);
        QVERIFY(!trigger.isActive());

        // A window already fullscreen when watching starts counts at once;
        // stopping unloads the script from KWin.
        trigger.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!scriptLoaded(bus.connection(), triggerBus.baseService()), 5000);
        tell(film, QStringLiteral("fullscreen"));
        QTest::qWait(500);
        QVERIFY(!trigger.isActive());
        trigger.start({});
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 10000);
        QCOMPARE(trigger.subject(), QStringLiteral("영화 보기"));

        // The window closed while fullscreen.
        film->closeWriteChannel();
        QVERIFY(film->waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 10000);
        trigger.stop();
    }

    void twoWatchersSideBySideKeepTheirOwnScripts()
    {
        // As in an upgrade's hand-over: the old agent's trigger ends after
        // the new one's has started, and takes only its own script with it.
        QDBusConnection oldBus = bus.newConnection();
        auto old = std::make_unique<FullscreenTrigger>(oldBus, sessionEnvironment());
        old->start({});
        QTRY_VERIFY_WITH_TIMEOUT(scriptLoaded(bus.connection(), oldBus.baseService()), 5000);
        QDBusConnection triggerBus = bus.newConnection();
        FullscreenTrigger trigger(triggerBus, sessionEnvironment());
        trigger.start({});
        QTRY_VERIFY_WITH_TIMEOUT(scriptLoaded(bus.connection(), triggerBus.baseService()), 5000);
        old.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!scriptLoaded(bus.connection(), oldBus.baseService()), 5000);
        QVERIFY(scriptLoaded(bus.connection(), triggerBus.baseService()));

        QProcess *film = openWindow(QStringLiteral("wakora-film"));
        QVERIFY(film);
        QTest::qWait(1000);
        tell(film, QStringLiteral("fullscreen"));
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 10000);
        QCOMPARE(trigger.subject(), QStringLiteral("wakora-film"));
    }

    void kwinLeavingEndsTheActivity()
    {
        FullscreenTrigger trigger(bus.newConnection(), sessionEnvironment());
        trigger.start({});
        QProcess *film = openWindow(QStringLiteral("wakora-film"));
        QVERIFY(film);
        QTest::qWait(1000);
        tell(film, QStringLiteral("fullscreen"));
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 10000);
        kwin.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 5000);
        // Without KWin the trigger is unavailable again, and says why.
        trigger.stop();
        QTRY_COMPARE_WITH_TIMEOUT(trigger.unavailable(),
            QStringLiteral("Wayland에서는 이 데스크톱이 전체 화면 창을 알려 주지 않습니다"), 5000);
    }

    void aKWinThatComesBackRunsTheScriptAgain()
    {
        // KWin takes its bus name before its scripting interface is there:
        // a watcher that hears the name come back asks too early, and waits.
        if (!kwin.isRunning())
            WAKORA_START_OR_SKIP(startKWin());
        QDBusConnection triggerBus = bus.newConnection();
        FullscreenTrigger trigger(triggerBus, sessionEnvironment());
        trigger.start({});
        QTRY_VERIFY_WITH_TIMEOUT(scriptLoaded(bus.connection(), triggerBus.baseService()), 10000);
        kwin.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!KWinFullscreenScript::kwinPresent(bus.connection()), 5000);
        WAKORA_START_OR_SKIP(startKWin());
        QTRY_VERIFY_WITH_TIMEOUT(scriptLoaded(bus.connection(), triggerBus.baseService()), 30000);
        QProcess *film = openWindow(QStringLiteral("wakora-film"));
        QVERIFY(film);
        QTest::qWait(1000);
        tell(film, QStringLiteral("fullscreen"));
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 10000);
        QCOMPARE(trigger.unavailable(), std::nullopt);
        trigger.stop();
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(windowVariable))
        return runWindow(argc, argv);
    QCoreApplication application(argc, argv);
    TestFullscreenOnKWin test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fullscreenkwin.moc"
