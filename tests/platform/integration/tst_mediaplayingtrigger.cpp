// The media trigger against a real player: mpv with the mpv-mpris script, on
// a private session bus, playing and pausing a short sound it is given.

#include "DaemonProcess.h"
#include "MediaPlayingTrigger.h"
#include "PrivateBus.h"
#include "StartOrSkip.h"

#include <QDBusMessage>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QString mpvName = QStringLiteral("org.mpris.MediaPlayer2.mpv");
const QString playerPath = QStringLiteral("/org/mpris/MediaPlayer2");

// Two seconds of a quiet tone, 8 kHz mono 16-bit PCM.
bool writeTone(const QString &path)
{
    const quint32 rate = 8000;
    QByteArray samples;
    for (quint32 index = 0; index < 2 * rate; ++index) {
        const auto sample = qToLittleEndian(qint16(1000 * std::sin(double(index) * 2 * M_PI * 440 / rate)));
        samples.append(reinterpret_cast<const char *>(&sample), 2);
    }
    QByteArray header;
    const auto put32 = [&header](quint32 value) {
        const quint32 little = qToLittleEndian(value);
        header.append(reinterpret_cast<const char *>(&little), 4);
    };
    const auto put16 = [&header](quint16 value) {
        const quint16 little = qToLittleEndian(value);
        header.append(reinterpret_cast<const char *>(&little), 2);
    };
    header.append("RIFF");
    put32(36 + quint32(samples.size()));
    header.append("WAVEfmt ");
    put32(16);
    put16(1); // PCM
    put16(1); // mono
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    header.append("data");
    put32(quint32(samples.size()));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(header + samples) == header.size() + samples.size();
}

// The status changes the players announce, as (sender, status): mpv-mpris
// announces a change some time after its Get already answers the new
// status, and the trigger can know only what was announced.
class StatusListener : public QObject
{
    Q_OBJECT

public:
    void forget() { m_heard.clear(); }
    bool heard(const QString &sender, const QString &status) const { return m_heard.contains({ sender, status }); }

public Q_SLOTS:
    void changed(const QDBusMessage &message)
    {
        const QVariantMap properties = qdbus_cast<QVariantMap>(message.arguments().value(1));
        if (properties.contains(QStringLiteral("PlaybackStatus")))
            m_heard.append({ message.service(), properties.value(QStringLiteral("PlaybackStatus")).toString() });
    }

private:
    QList<std::pair<QString, QString>> m_heard;
};

// A private session bus and one mpv on it.
class PlayerHarness
{
public:
    // Empty once the bus runs, else why not.
    QString start()
    {
        if (!m_directory.isValid())
            return QStringLiteral("no temporary directory");
        if (!writeTone(m_directory.filePath(QStringLiteral("tone.wav"))))
            return QStringLiteral("cannot write the sound file");
        QString error;
        if (!m_bus.start(m_directory.path(), &error))
            return error;
        m_bus.connection().connect(QString(), playerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"), &m_listener, SLOT(changed(QDBusMessage)));
        return QString();
    }

    // Empty once mpv owns its MPRIS name, else why not ("not installed"
    // when mpv is missing). Paused on the sound, looping, unless `playing`.
    QString startPlayer(bool playing)
    {
        const QString why = m_player.start(QStringLiteral("mpv"), playerArguments(playing), playerEnvironment(),
            m_directory.filePath(QStringLiteral("mpv.log")), m_bus.connection(), mpvName, QStringLiteral("mpv"));
        if (!why.isEmpty() && !why.contains(QStringLiteral("not installed")))
            return why + QStringLiteral("\n(the MPRIS script comes with Debian's mpv-mpris)");
        return why;
    }

    // A second mpv, which takes the name "org.mpris.MediaPlayer2.mpv.instance<pid>"
    // as the first holds the plain one; its name once it owns it, else empty.
    QString startSecondPlayer(bool playing)
    {
        m_second.setProcessEnvironment(playerEnvironment());
        m_second.setProcessChannelMode(QProcess::MergedChannels);
        m_second.setStandardOutputFile(m_directory.filePath(QStringLiteral("mpv-second.log")));
        m_second.start(QStringLiteral("mpv"), playerArguments(playing));
        if (!m_second.waitForStarted(5000))
            return QString();
        const QString name = mpvName + QStringLiteral(".instance%1").arg(m_second.processId());
        const QDeadlineTimer deadline(20000);
        while (!m_bus.connection().interface()->isServiceRegistered(name).value()) {
            if (deadline.hasExpired() || m_second.state() != QProcess::Running)
                return QString();
            QThread::msleep(10);
        }
        return name;
    }

    bool call(const QString &method, const QString &player = mpvName)
    {
        const QString interface = method == QLatin1String("Quit") ? QStringLiteral("org.mpris.MediaPlayer2")
                                                                  : QStringLiteral("org.mpris.MediaPlayer2.Player");
        const QDBusMessage message = QDBusMessage::createMethodCall(player, playerPath, interface, method);
        m_listener.forget();
        return m_bus.connection().call(message, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
    }

    QString status(const QString &player = mpvName)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            player, playerPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        message << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("PlaybackStatus");
        const QDBusMessage reply = m_bus.connection().call(message, QDBus::Block, 5000);
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
    }

    // Whether the player has announced the status since the last call().
    bool announced(const QString &status) { return announced(mpvName, status); }
    bool announced(const QString &player, const QString &status)
    {
        return m_listener.heard(m_bus.connection().interface()->serviceOwner(player).value(), status);
    }

    bool playerRunning() const { return m_player.isRunning(); }
    bool secondPlayerRunning() const { return m_second.state() == QProcess::Running; }
    void printLogs() const
    {
        m_player.printLog();
        QFile second(m_directory.filePath(QStringLiteral("mpv-second.log")));
        if (second.open(QIODevice::ReadOnly))
            qInfo().noquote() << "---- log of the second mpv ----\n" << second.readAll();
    }
    QDBusConnection triggerConnection() { return m_bus.newConnection(); }

    ~PlayerHarness()
    {
        if (m_second.state() != QProcess::NotRunning) {
            m_second.terminate();
            if (!m_second.waitForFinished(3000)) {
                m_second.kill();
                m_second.waitForFinished(3000);
            }
        }
    }

private:
    QProcessEnvironment playerEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        environment.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
        // The user's own mpv settings stay out; the system's, which load
        // the MPRIS script, stay in.
        environment.insert(QStringLiteral("HOME"), m_directory.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_directory.filePath(QStringLiteral("config")));
        return environment;
    }

    QStringList playerArguments(bool playing) const
    {
        QStringList arguments{ QStringLiteral("--idle=yes"), QStringLiteral("--no-video"), QStringLiteral("--ao=null"),
            QStringLiteral("--no-terminal"), QStringLiteral("--loop-file=inf") };
        if (!playing)
            arguments << QStringLiteral("--pause");
        arguments << m_directory.filePath(QStringLiteral("tone.wav"));
        return arguments;
    }

    QTemporaryDir m_directory;
    PrivateBus m_bus{ QStringLiteral("session") };
    DaemonProcess m_player{ QStringLiteral("mpv") };
    QProcess m_second;
    StatusListener m_listener;
};

// Every activeChanged, as (active, subject).
struct Changes {
    explicit Changes(Trigger &trigger)
    {
        QObject::connect(&trigger, &Trigger::activeChanged, &trigger, [this, &trigger] {
            seen.append({ trigger.isActive(), trigger.subject() });
        });
    }
    QList<std::pair<bool, QString>> seen;
};

} // namespace

class MediaPlayingTriggerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void holdsThroughAPauseForTheGraceThenEnds()
    {
        PlayerHarness harness;
        QVERIFY2(harness.start().isEmpty(), "the private bus did not start");
        WAKORA_START_OR_SKIP(harness.startPlayer(false));
        auto failed = qScopeGuard([&harness] { harness.printLogs(); });

        const auto grace = 1500ms;
        MediaPlayingTrigger trigger(harness.triggerConnection(), grace);
        Changes changes(trigger);
        trigger.start({});
        QTest::qWait(300); // the paused player is read and does not count
        QVERIFY(!trigger.isActive());

        QVERIFY(harness.call(QStringLiteral("Play")));
        QTRY_VERIFY(trigger.isActive());
        QCOMPARE(trigger.subject(), QStringLiteral("mpv"));

        QVERIFY(harness.call(QStringLiteral("Pause")));
        QElapsedTimer paused;
        paused.start();
        QTRY_VERIFY(harness.announced(QStringLiteral("Paused")));
        QTest::qWait(300);
        QVERIFY2(trigger.isActive(), "a pause ends the claim only after the grace");
        QCOMPARE(trigger.subject(), QStringLiteral("mpv"));
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 10000);
        QVERIFY2(paused.elapsed() >= grace.count() - 100, qPrintable(QString::number(paused.elapsed())));

        const QList<std::pair<bool, QString>> expected{ { true, QStringLiteral("mpv") }, { false, QString() } };
        QCOMPARE(changes.seen, expected);
        failed.dismiss();
    }

    void readsAPlayerAlreadyPlayingAResumeDoesNotFlickerAndQuittingEndsAtOnce()
    {
        PlayerHarness harness;
        QVERIFY2(harness.start().isEmpty(), "the private bus did not start");
        WAKORA_START_OR_SKIP(harness.startPlayer(true));
        auto failed = qScopeGuard([&harness] { harness.printLogs(); });
        QTRY_COMPARE(harness.status(), QStringLiteral("Playing"));

        // A grace far longer than the test: only the player's leaving can end it.
        MediaPlayingTrigger trigger(harness.triggerConnection(), 10min);
        Changes changes(trigger);
        trigger.start({});
        QTRY_VERIFY(trigger.isActive());
        QCOMPARE(trigger.subject(), QStringLiteral("mpv"));

        QVERIFY(harness.call(QStringLiteral("Pause")));
        QTRY_VERIFY(harness.announced(QStringLiteral("Paused")));
        QTest::qWait(200);
        QVERIFY(harness.call(QStringLiteral("Play")));
        QTRY_VERIFY(harness.announced(QStringLiteral("Playing")));
        QTest::qWait(200);
        QCOMPARE(changes.seen.size(), 1);

        QVERIFY(harness.call(QStringLiteral("Pause")));
        QTRY_VERIFY(harness.announced(QStringLiteral("Paused")));
        QVERIFY(harness.call(QStringLiteral("Quit")));
        QTRY_VERIFY(!harness.playerRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 5000);
        const QList<std::pair<bool, QString>> expected{ { true, QStringLiteral("mpv") }, { false, QString() } };
        QCOMPARE(changes.seen, expected);
        failed.dismiss();
    }

    void anotherPlayerKeepsItWhenTheFirstLeaves()
    {
        PlayerHarness harness;
        QVERIFY2(harness.start().isEmpty(), "the private bus did not start");
        WAKORA_START_OR_SKIP(harness.startPlayer(true));
        auto failed = qScopeGuard([&harness] { harness.printLogs(); });

        MediaPlayingTrigger trigger(harness.triggerConnection(), 10min);
        Changes changes(trigger);
        trigger.start({});
        QTRY_VERIFY(trigger.isActive());

        // The second arrives while the trigger watches, and plays too.
        const QString second = harness.startSecondPlayer(false);
        QVERIFY2(!second.isEmpty(), "the second mpv did not own its MPRIS name");
        QVERIFY(harness.call(QStringLiteral("Play"), second));
        QTRY_VERIFY(harness.announced(second, QStringLiteral("Playing")));
        QTest::qWait(200); // the trigger heard it too

        // The first leaving while the second plays changes nothing.
        QVERIFY(harness.call(QStringLiteral("Quit")));
        QTRY_VERIFY(!harness.playerRunning());
        QTest::qWait(300);
        QVERIFY(trigger.isActive());
        QCOMPARE(trigger.subject(), QStringLiteral("mpv"));

        // The second paused is held for the grace; quitting ends it at once.
        QVERIFY(harness.call(QStringLiteral("Pause"), second));
        QTRY_VERIFY(harness.announced(second, QStringLiteral("Paused")));
        QTest::qWait(200);
        QVERIFY(trigger.isActive());
        QVERIFY(harness.call(QStringLiteral("Quit"), second));
        QTRY_VERIFY(!harness.secondPlayerRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!trigger.isActive(), 5000);
        const QList<std::pair<bool, QString>> expected{ { true, QStringLiteral("mpv") }, { false, QString() } };
        QCOMPARE(changes.seen, expected);
        failed.dismiss();
    }

    void aStoppedTriggerReactsToNothing()
    {
        PlayerHarness harness;
        QVERIFY2(harness.start().isEmpty(), "the private bus did not start");
        WAKORA_START_OR_SKIP(harness.startPlayer(true));
        auto failed = qScopeGuard([&harness] { harness.printLogs(); });

        MediaPlayingTrigger trigger(harness.triggerConnection(), 10min);
        trigger.start({});
        QTRY_VERIFY(trigger.isActive());
        Changes changes(trigger);
        trigger.stop();
        QVERIFY(!trigger.isActive()); // stopping ends the activity without a signal

        QVERIFY(harness.call(QStringLiteral("Pause")));
        QTRY_VERIFY(harness.announced(QStringLiteral("Paused")));
        QVERIFY(harness.call(QStringLiteral("Play")));
        QTRY_VERIFY(harness.announced(QStringLiteral("Playing")));
        QVERIFY(harness.call(QStringLiteral("Quit")));
        QTRY_VERIFY(!harness.playerRunning());
        QTest::qWait(300);
        QVERIFY(!trigger.isActive());
        QVERIFY(changes.seen.isEmpty());

        // A player that starts playing after stop() does not count either.
        QVERIFY(harness.startPlayer(true).isEmpty());
        QTRY_COMPARE(harness.status(), QStringLiteral("Playing"));
        QTest::qWait(300);
        QVERIFY(!trigger.isActive());
        QVERIFY(changes.seen.isEmpty());

        // Started again, it sees the player.
        trigger.start({});
        QTRY_VERIFY(trigger.isActive());
        failed.dismiss();
    }

    void namesAPlayerWithoutIdentityByItsBusName()
    {
        QCOMPARE(MediaPlayingTrigger::fallbackIdentity(QStringLiteral("org.mpris.MediaPlayer2.vlc.instance42")),
            QStringLiteral("vlc"));
        QCOMPARE(MediaPlayingTrigger::fallbackIdentity(QStringLiteral("org.mpris.MediaPlayer2.spotify")),
            QStringLiteral("spotify"));
    }
};

QTEST_GUILESS_MAIN(MediaPlayingTriggerTest)
#include "tst_mediaplayingtrigger.moc"
