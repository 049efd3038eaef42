// The fullscreen trigger meeting a KWin that is still starting: KWin owns
// its bus name some time before its scripting interface is registered, and
// a cold start (first login, caches empty) makes that time long. The real
// KWin cannot be held in that state on purpose, so a stand-in on a private
// bus owns the name and registers the interface only later; the script's
// report is then sent by the stand-in, as KWin's would be.

#include "FullscreenTrigger.h"
#include "KWinFullscreenScript.h"
#include "PrivateBus.h"

#include <QDBusMessage>
#include <QTemporaryDir>
#include <QTest>

namespace {

class StandInScript : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kwin.Script")

public:
    using QObject::QObject;
    int runs = 0;

Q_SIGNALS:
    void started();

public Q_SLOTS:
    Q_SCRIPTABLE void run()
    {
        ++runs;
        Q_EMIT started();
    }
};

class StandInScripting : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kwin.Scripting")

public:
    explicit StandInScripting(QDBusConnection bus)
        : m_bus(std::move(bus))
    { }

    QStringList loaded;
    StandInScript script;

public Q_SLOTS:
    Q_SCRIPTABLE int loadScript(const QString &file, const QString &plugin)
    {
        Q_UNUSED(file);
        loaded.append(plugin);
        m_bus.registerObject(QStringLiteral("/Scripting/Script0"), &script, QDBusConnection::ExportScriptableSlots);
        return 0;
    }
    Q_SCRIPTABLE bool unloadScript(const QString &plugin) { return loaded.removeAll(plugin) > 0; }

private:
    QDBusConnection m_bus;
};

} // namespace

class TestKWinScriptingStart : public QObject
{
    Q_OBJECT

    QTemporaryDir directory;
    PrivateBus bus{ QStringLiteral("session") };

    QProcessEnvironment waylandSession() const
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
        return environment;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(directory.isValid());
        QString error;
        if (!bus.start(directory.path(), &error))
            QSKIP(qPrintable(error));
    }

    void theScriptIsLoadedOnceKWinsScriptingIsUp()
    {
        QDBusConnection kwin = bus.newConnection();
        QVERIFY(kwin.registerService(QString::fromLatin1(KWinFullscreenScript::kwinService)));
        StandInScripting scripting(kwin);

        QDBusConnection triggerBus = bus.newConnection();
        FullscreenTrigger trigger(triggerBus, waylandSession());
        QCOMPARE(trigger.unavailable(), std::nullopt);
        trigger.start({});
        QTest::qWait(1500); // KWin busy starting, its scripting not there yet
        QVERIFY(scripting.loaded.isEmpty());
        QVERIFY(kwin.registerObject(QStringLiteral("/Scripting"), &scripting, QDBusConnection::ExportScriptableSlots));

        QTRY_COMPARE_WITH_TIMEOUT(scripting.script.runs, 1, 10000);
        QCOMPARE(scripting.loaded, QStringList{ KWinFullscreenScript::pluginName(triggerBus.baseService()) });
        QCOMPARE(trigger.unavailable(), std::nullopt);

        // The script's report, from KWin's connection as the script's would be.
        QDBusMessage report = QDBusMessage::createMethodCall(triggerBus.baseService(),
            QString::fromLatin1(KWinFullscreenScript::objectPath),
            QStringLiteral("com.quorvel.WakoraApp.FullscreenReport"), QStringLiteral("Report"));
        report << true << QStringLiteral("영화");
        kwin.asyncCall(report);
        QTRY_VERIFY_WITH_TIMEOUT(trigger.isActive(), 5000);
        QCOMPARE(trigger.subject(), QStringLiteral("영화"));
        trigger.stop();
        kwin.unregisterService(QString::fromLatin1(KWinFullscreenScript::kwinService));
    }
};

QTEST_GUILESS_MAIN(TestKWinScriptingStart)

#include "tst_kwinscriptingstart.moc"
