#include "ApplicationUnitName.h"
#include "FakeRunningApplications.h"
#include "SystemApplicationPresence.h"
#include "SystemRunningApplications.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// Whether an application runs, learned from the units a desktop starts it in
// (a stand-in cgroup tree in a temporary folder) and from /proc with pidfds
// (real child processes named by a temporary desktop entry).
class TestApplicationPresence : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;
    std::shared_ptr<FakeRunningApplications> fake;

    QString tree() const { return root->filePath(u"user@1000.service"_s); }
    QString unit(const QString &relative) const { return tree() + u'/' + relative; }

    static void write(const QString &path, const QByteArray &bytes)
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    std::unique_ptr<SystemApplicationPresence> presence(
        std::shared_ptr<RunningApplicationReading> applications, const QString &cgroupRoot, auto interval)
    {
        SystemApplicationPresence::Options options;
        options.cgroupRoot = cgroupRoot;
        options.lookInterval = interval;
        return std::make_unique<SystemApplicationPresence>(std::move(applications), options);
    }
    std::unique_ptr<SystemApplicationPresence> inTree() { return presence(fake, tree(), 1h); }

    // Whatever is armed, found without asking the object itself.
    static bool anythingArmed(const QObject &object)
    {
        const auto notifiers = object.findChildren<QSocketNotifier *>();
        const auto timers = object.findChildren<QTimer *>();
        return std::any_of(notifiers.cbegin(), notifiers.cend(), [](auto *n) { return n->isEnabled(); })
            || std::any_of(timers.cbegin(), timers.cend(), [](auto *t) { return t->isActive(); });
    }
    static bool timerRuns(const QObject &object)
    {
        const auto timers = object.findChildren<QTimer *>();
        return std::any_of(timers.cbegin(), timers.cend(), [](auto *t) { return t->isActive(); });
    }

    // A copy of sleep that a desktop entry in a temporary data folder names.
    struct Sleeper {
        std::shared_ptr<SystemRunningApplications> applications;
        QString program;
    };
    Sleeper sleeper(const QByteArray &extraKeys = {})
    {
        write(root->filePath(u"data/applications/org.example.Sleeper.desktop"_s),
            "[Desktop Entry]\nType=Application\nName=Sleeper\nExec=presence-sleep 60\n" + extraKeys);
        SystemRunningApplications::Sources sources = SystemRunningApplications::systemSources();
        sources.dataDirs = QStringList{ root->filePath(u"data"_s) };
        sources.searchPath = QStringList{ root->filePath(u"bin"_s) };
        return { std::make_shared<SystemRunningApplications>(sources), root->filePath(u"bin/presence-sleep"_s) };
    }
    static void start(QProcess &process, const QString &program)
    {
        process.start(program, { u"60"_s });
        QVERIFY(process.waitForStarted());
    }

private Q_SLOTS:
    void init()
    {
        root = std::make_unique<QTemporaryDir>();
        QVERIFY(root->isValid());
        QVERIFY(QDir().mkpath(unit(u"app.slice"_s)));
        QVERIFY(QDir().mkpath(unit(u"session.slice"_s)));
        fake = std::make_shared<FakeRunningApplications>();
        QVERIFY(QDir().mkpath(root->filePath(u"bin"_s)));
        QVERIFY(QFile::copy(u"/bin/sleep"_s, root->filePath(u"bin/presence-sleep"_s)));
    }

    void unitNames_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("runs");
        const auto row = [](const char *name, const QString &unit, const QString &id, bool runs) {
            QTest::newRow(name) << unit << id << runs;
        };
        row("GNOME scope, escaped dash", uR"(app-gnome-firefox\x2desr-12345.scope)"_s, u"firefox-esr"_s, true);
        row("escape in upper case", uR"(app-gnome-firefox\x2Desr-12345.scope)"_s, u"firefox-esr"_s, true);
        row("longer id that begins with it", uR"(app-gnome-firefox\x2desr\x2dnightly-1.scope)"_s, u"firefox-esr"_s,
            false);
        row("unescaped dash is a separator", uR"(app-gnome-firefox-esr-12345.scope)"_s, u"firefox-esr"_s, false);
        row("shorter id", uR"(app-gnome-firefox\x2desr-12345.scope)"_s, u"firefox"_s, false);
        row("Flatpak", u"app-flatpak-org.mozilla.firefox-12345.scope"_s, u"org.mozilla.firefox"_s, true);
        row("no launcher", u"app-org.gnome.Evince-12345.scope"_s, u"org.gnome.Evince"_s, true);
        row("an id's dotted start is no launcher", u"app-org.gnome.Evince-12345.scope"_s, u"Evince"_s, false);
        row("an id's start", u"app-gnome-org.gnome.Evince-12345.scope"_s, u"org.gnome"_s, false);
        row("service instance", u"app-gnome-org.gnome.Evince@12345.service"_s, u"org.gnome.Evince"_s, true);
        row("autostart", uR"(app-gnome\x2dkeyring\x2dssh@autostart.service)"_s, u"gnome-keyring-ssh"_s, true);
        row("UUID instance", u"app-KDE-org.kde.okular@0f3a9c1e-1b2d-4c5e-8f9a-123456789abc.service"_s,
            u"org.kde.okular"_s, true);
        row("UUID scope", u"app-org.kde.dolphin-0f3a9c1e-1b2d-4c5e-8f9a-123456789abc.scope"_s, u"org.kde.dolphin"_s,
            true);
        row("hex scope", u"app-org.kde.dolphin-0f3a9c1e1b2d4c5e8f9a123456789abc.scope"_s, u"org.kde.dolphin"_s, true);
        row("word after the id", uR"(app-gnome-firefox\x2desr-nightly.scope)"_s, u"firefox-esr"_s, false);
        row("service without RANDOM", u"app-org.kde.amarok.service"_s, u"org.kde.amarok"_s, true);
        row("scope without RANDOM", u"app-org.kde.amarok.scope"_s, u"org.kde.amarok"_s, false);
        row("RANDOM and instance", u"app-org.kde.amarok-1@2.service"_s, u"org.kde.amarok"_s, false);
        row("template", u"app-gnome-org.gnome.Evince@.service"_s, u"org.gnome.Evince"_s, false);
        row("other characters escaped", uR"(app-gnome-org.example.A\x2bB-7.scope)"_s, u"org.example.A+B"_s, true);
        row("other characters left", uR"(app-gnome-org.example.A+B-7.scope)"_s, u"org.example.A+B"_s, true);
        row("slice", u"app-org.gnome.Evince.slice"_s, u"org.gnome.Evince"_s, false);
        row("not an app unit", u"run-u42.scope"_s, u"run"_s, false);
        row("empty id", u"app--1.scope"_s, QString(), false);
    }
    void unitNames()
    {
        QFETCH(QString, unit);
        QFETCH(QString, id);
        QFETCH(bool, runs);
        QCOMPARE(ApplicationUnitName::runs(unit, id), runs);
    }

    void escapingAndFlatpakIds()
    {
        QCOMPARE(ApplicationUnitName::escape(u"firefox-esr"_s), uR"(firefox\x2desr)"_s);
        QCOMPARE(ApplicationUnitName::escape(u"café"_s), uR"(caf\xc3\xa9)"_s);
        QCOMPARE(ApplicationUnitName::unescape(uR"(caf\xc3\xa9\x2d\x2)"_s), uR"(café-\x2)"_s);
        QCOMPARE(ApplicationUnitName::flatpakAppId(u"app-flatpak-org.mozilla.firefox-12345.scope"_s),
            std::optional(u"org.mozilla.firefox"_s));
        QCOMPARE(ApplicationUnitName::flatpakAppId(uR"(app-flatpak-org.example.my\x2dapp-9.scope)"_s),
            std::optional(u"org.example.my-app"_s));
        for (const QString &other : { u"app-gnome-org.mozilla.firefox-1.scope"_s, u"app-flatpak-org.x.Y.service"_s,
                 u"app-flatpak--1.scope"_s, u"app-flatpak-org.x.Y-z.scope"_s, u"session-2.scope"_s })
            QVERIFY2(!ApplicationUnitName::flatpakAppId(other), qPrintable(other));
    }

    void theUserManagersCgroup()
    {
        const QByteArray unified = "30 23 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec shared:4 - cgroup2 cgroup2 rw\n";
        const QByteArray hybrid = "31 24 0:27 / /sys/fs/cgroup/unified rw shared:5 - cgroup2 cgroup2 rw\n"
                                  "32 24 0:28 / /sys/fs/cgroup/memory rw shared:6 - cgroup cgroup rw,memory\n";
        const QByteArray autostarted = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                                       "app-gnome-org.example.Wakora@autostart.service\n";
        QCOMPARE(SystemApplicationPresence::userManagerCgroup(autostarted, unified, 1000),
            u"/sys/fs/cgroup/user.slice/user-1000.slice/user@1000.service"_s);
        QCOMPARE(SystemApplicationPresence::userManagerCgroup("1:name=systemd:/x\n" + autostarted, hybrid, 1000),
            u"/sys/fs/cgroup/unified/user.slice/user-1000.slice/user@1000.service"_s);
        // Another user's manager, a login session's scope, no unified line, no cgroup2 mount.
        QVERIFY(SystemApplicationPresence::userManagerCgroup(autostarted, unified, 1001).isEmpty());
        QVERIFY(SystemApplicationPresence::userManagerCgroup(
            "0::/user.slice/user-1000.slice/session-2.scope\n", unified, 1000)
                    .isEmpty());
        QVERIFY(SystemApplicationPresence::userManagerCgroup("1:name=systemd:/user.slice/user-1000.slice/"
                                                             "user@1000.service\n",
            unified, 1000)
                    .isEmpty());
        QVERIFY(SystemApplicationPresence::userManagerCgroup(autostarted, "1 0 0:1 / / rw - ext4 /dev/x rw\n", 1000)
                    .isEmpty());
        // Inside a cgroup namespace whose mount shows only part of the hierarchy.
        QCOMPARE(SystemApplicationPresence::userManagerCgroup("0::/user.slice/user@0.service/init.scope\n",
                     "40 30 0:26 /user.slice /mnt/cg rw - cgroup2 cgroup2 rw\n", 0),
            u"/mnt/cg/user@0.service"_s);
    }

    // GNOME's, Flatpak's and KDE's units come and go in slices made before and
    // after the watch began; a similar name and a second instance do not fool it.
    void unitsComeAndGo()
    {
        QVERIFY(QDir().mkpath(unit(u"app.slice/app-flatpak.slice"_s)));
        const auto watcher = inTree();
        QSignalSpy changes(watcher.get(), &ApplicationPresence::runningChanged);
        watcher->watch(u"firefox-esr"_s);
        QCOMPARE(watcher->watched(), u"firefox-esr"_s);
        QVERIFY(!watcher->isRunning());
        QCOMPARE(watcher->method(), u"scopes"_s);
        QVERIFY(!timerRuns(*watcher)); // nothing is polled

        QVERIFY(QDir().mkdir(unit(uR"(app.slice/app-gnome-firefox\x2desr\x2dnightly-1.scope)"_s)));
        QVERIFY(QDir().mkpath(unit(u"app.slice/app-gnome.slice"_s)));
        QVERIFY(QDir().mkdir(unit(uR"(app.slice/app-gnome.slice/app-gnome-firefox\x2desr-4242.scope)"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 1, 2000);
        QCOMPARE(changes.at(0).at(0).toBool(), true);
        QVERIFY(watcher->isRunning());

        // A second instance, then the first ends: still running.
        QVERIFY(QDir().mkdir(unit(uR"(app.slice/app-firefox\x2desr-0f3a9c1e-1b2d-4c5e-8f9a-123456789abc.scope)"_s)));
        QVERIFY(QDir().rmdir(unit(uR"(app.slice/app-gnome.slice/app-gnome-firefox\x2desr-4242.scope)"_s)));
        QTest::qWait(100);
        QCOMPARE(changes.size(), 1);
        QVERIFY(watcher->isRunning());

        // The last one ends; the nightly's unit does not keep it running.
        QVERIFY(QDir().rmdir(unit(uR"(app.slice/app-firefox\x2desr-0f3a9c1e-1b2d-4c5e-8f9a-123456789abc.scope)"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 2, 2000);
        QCOMPARE(changes.at(1).at(0).toBool(), false);
        QVERIFY(!watcher->isRunning());

        // Flatpak's unit in a slice that existed before; a slice removed and made again.
        watcher->watch(u"org.mozilla.firefox"_s);
        QVERIFY(QDir().rmdir(unit(u"app.slice/app-gnome.slice"_s)));
        QVERIFY(QDir().mkdir(unit(u"app.slice/app-flatpak.slice/app-flatpak-org.mozilla.firefox-77.scope"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 3, 2000);
        QVERIFY(watcher->isRunning());
        QVERIFY(QDir().rmdir(unit(u"app.slice/app-flatpak.slice/app-flatpak-org.mozilla.firefox-77.scope"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 4, 2000);
        QVERIFY(QDir().mkpath(unit(u"app.slice/app-gnome.slice/app-gnome-org.mozilla.firefox-5.scope"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 5, 2000);
        QVERIFY(watcher->isRunning());
    }

    // A unit running when the watch begins, deep in the tree, is seen by the
    // first look; changing the rule says nothing, and only the new
    // application's units count after it.
    void firstLookAndRuleChange()
    {
        QVERIFY(QDir().mkpath(unit(u"app.slice/app-flatpak.slice/app-flatpak-org.gnome.Maps-3.scope"_s)));
        QVERIFY(QDir().mkpath(unit(u"app.slice/app-gnome-org.gnome.Totem-8.scope"_s)));
        const auto watcher = inTree();
        QSignalSpy changes(watcher.get(), &ApplicationPresence::runningChanged);
        watcher->watch(u"org.gnome.Maps"_s);
        QVERIFY(watcher->isRunning());
        watcher->watch(u"org.gnome.Evince"_s);
        QVERIFY(!watcher->isRunning());
        QVERIFY(QDir().rmdir(unit(u"app.slice/app-flatpak.slice/app-flatpak-org.gnome.Maps-3.scope"_s)));
        QVERIFY(QDir().rmdir(unit(u"app.slice/app-gnome-org.gnome.Totem-8.scope"_s)));
        QVERIFY(QDir().mkdir(unit(u"app.slice/app-gnome-org.gnome.Evince-9.scope"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 1, 2000);
        QCOMPARE(changes.at(0).at(0).toBool(), true);
        watcher->watch(u"org.gnome.Totem"_s);
        QVERIFY(!watcher->isRunning());
        QCOMPARE(changes.size(), 1);
    }

    // An emptied cgroup may linger: its cgroup.events says so.
    void emptiedUnitThatLingers()
    {
        const QString path = unit(u"app.slice/app-gnome-org.gnome.Evince-12.scope"_s);
        QVERIFY(QDir().mkdir(path));
        write(path + u"/cgroup.events"_s, "populated 0\nfrozen 0\n");
        const auto watcher = inTree();
        QSignalSpy changes(watcher.get(), &ApplicationPresence::runningChanged);
        watcher->watch(u"org.gnome.Evince"_s);
        QVERIFY(!watcher->isRunning()); // made, its process not yet in it
        write(path + u"/cgroup.events"_s, "populated 1\nfrozen 0\n");
        QTRY_VERIFY_WITH_TIMEOUT(watcher->isRunning(), 2000);
        write(path + u"/cgroup.events"_s, "populated 0\nfrozen 0\n");
        QTRY_VERIFY_WITH_TIMEOUT(!watcher->isRunning(), 2000);
        QVERIFY(QDir(path).removeRecursively());
        QTest::qWait(50);
        QCOMPARE(changes.size(), 2);
    }

    // With nothing watched, nothing is open or armed and units go unseen.
    void unwatchedIsIdle()
    {
        QVERIFY(QDir().mkdir(unit(u"app.slice/app-gnome-org.gnome.Evince-1.scope"_s)));
        fake->insertEntry({ u"org.gnome.Evince"_s, u"Evince"_s, {} });
        const auto watcher = presence(fake, tree(), 10ms);
        QVERIFY(watcher->isIdle());
        QCOMPARE(watcher->method(), u"none"_s);
        watcher->watch(u"org.gnome.Evince"_s);
        QVERIFY(!watcher->isIdle());
        QVERIFY(anythingArmed(*watcher));

        QSignalSpy changes(watcher.get(), &ApplicationPresence::runningChanged);
        watcher->watch(QString());
        QVERIFY(watcher->isIdle());
        QVERIFY(!anythingArmed(*watcher));
        QVERIFY(!watcher->isRunning());
        QCOMPARE(watcher->method(), u"none"_s);
        QVERIFY(QDir().rmdir(unit(u"app.slice/app-gnome-org.gnome.Evince-1.scope"_s)));
        QVERIFY(QDir().mkdir(unit(u"app.slice/app-gnome-org.gnome.Evince-2.scope"_s)));
        QTest::qWait(50);
        QVERIFY(changes.isEmpty());

        // The same without a tree: the look timer stops too.
        const auto bare = presence(fake, QString(), 10ms);
        bare->watch(u"org.gnome.Evince"_s);
        QVERIFY(timerRuns(*bare));
        bare->watch(QString());
        QVERIFY(bare->isIdle());
        QVERIFY(!anythingArmed(*bare));
    }

    // Without a tree, and for an entry run inside a terminal, /proc is looked
    // at every interval while the application is not running, and not at all
    // while a pidfd follows it.
    void processesWhereUnitsCannotTell()
    {
        fake->insertEntry({ u"vim"_s, u"Vim"_s, {} });
        fake->setRunsInTerminal(u"vim"_s);
        fake->insertEntry({ u"org.example.Editor"_s, u"Editor"_s, {} });
        const auto terminal = presence(fake, tree(), 20ms);
        const auto bare = presence(fake, QString(), 20ms);
        terminal->watch(u"vim"_s);
        bare->watch(u"org.example.Editor"_s);
        for (const auto *watcher : { terminal.get(), bare.get() }) {
            QCOMPARE(watcher->method(), u"processes"_s);
            QVERIFY(!watcher->isRunning());
            QVERIFY(timerRuns(*watcher));
        }
        // A unit named after a Terminal=true entry is not its application.
        QVERIFY(QDir().mkdir(unit(u"app.slice/app-gnome-vim-1.scope"_s)));
        QTest::qWait(60);
        QVERIFY(!terminal->isRunning());

        // This process stands for the application: one that does not end.
        const QList<qint32> self{ qint32(::getpid()) };
        fake->insertEntry({ u"vim"_s, u"Vim"_s, {} }, self);
        fake->insertEntry({ u"org.example.Editor"_s, u"Editor"_s, {} }, self);
        QTRY_VERIFY_WITH_TIMEOUT(terminal->isRunning() && bare->isRunning(), 2000);
        for (const auto *watcher : { terminal.get(), bare.get() }) {
            QCOMPARE(watcher->followedProcessCount(), 1);
            QVERIFY(!timerRuns(*watcher));
        }
    }

    // The /proc look with real processes: a start found by the interval's
    // look, an end learned from the pidfd with the interval far away.
    void realProcessesFollowedByPidfd()
    {
        const Sleeper app = sleeper();
        const auto polling = presence(app.applications, QString(), 30ms);
        QSignalSpy pollingChanges(polling.get(), &ApplicationPresence::runningChanged);
        polling->watch(u"org.example.Sleeper"_s);
        QVERIFY(!polling->isRunning());

        QProcess first;
        start(first, app.program);
        QTRY_COMPARE_WITH_TIMEOUT(pollingChanges.size(), 1, 3000);
        QVERIFY(polling->isRunning());

        const auto waiting = presence(app.applications, QString(), 1h);
        QSignalSpy changes(waiting.get(), &ApplicationPresence::runningChanged);
        waiting->watch(u"org.example.Sleeper"_s);
        QVERIFY(waiting->isRunning());
        QCOMPARE(waiting->method(), u"processes"_s);

        // A second one started; the first ending leaves it running, the second ends it.
        QProcess second;
        start(second, app.program);
        first.kill();
        QVERIFY(first.waitForFinished());
        QTest::qWait(100);
        QVERIFY(waiting->isRunning());
        QCOMPARE(waiting->followedProcessCount(), 1);
        QVERIFY(changes.isEmpty());
        second.kill();
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 1, 2000);
        QCOMPARE(changes.at(0).at(0).toBool(), false);
        QVERIFY(timerRuns(*waiting)); // waiting for a start again
        QTRY_COMPARE_WITH_TIMEOUT(pollingChanges.size(), 2, 2000);
    }

    // A process that exited but is not reaped stays in /proc: it has ended all the same.
    void unreapedProcessHasEnded()
    {
        const Sleeper app = sleeper();
        // The shell's child is never waited for once the shell has become sleep;
        // once that ends, the child is ours to reap.
        QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        const auto notReaper = qScopeGuard([] { ::prctl(PR_SET_CHILD_SUBREAPER, 0); });
        QProcess parent;
        parent.start(u"/bin/sh"_s, { u"-c"_s, u"\"$0\" 60 & exec /bin/sleep 60"_s, app.program });
        QVERIFY(parent.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(app.applications->processIds(u"org.example.Sleeper"_s).size(), 1, 2000);
        const qint32 child = app.applications->processIds(u"org.example.Sleeper"_s).first();
        const auto watcher = presence(app.applications, QString(), 1h);
        QSignalSpy changes(watcher.get(), &ApplicationPresence::runningChanged);
        watcher->watch(u"org.example.Sleeper"_s);
        QVERIFY(watcher->isRunning());
        QCOMPARE(::kill(child, SIGKILL), 0);
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 1, 2000);
        QVERIFY(QFileInfo::exists(u"/proc/%1"_s.arg(child))); // the zombie
        QCOMPARE(watcher->followedProcessCount(), 0);
        parent.kill();
        QVERIFY(parent.waitForFinished());
        QCOMPARE(::waitpid(child, nullptr, 0), child);
    }

    // Started from a shell where the desktop uses units: found by the first
    // look, its end learned from the pidfd, after which units tell again.
    void startedOutsideItsUnit()
    {
        const Sleeper app = sleeper();
        QProcess process;
        start(process, app.program);
        const auto watcher = presence(app.applications, tree(), 1h);
        QSignalSpy changes(watcher.get(), &ApplicationPresence::runningChanged);
        watcher->watch(u"org.example.Sleeper"_s);
        QVERIFY(watcher->isRunning());
        QCOMPARE(watcher->method(), u"processes"_s);
        process.kill();
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 1, 2000);
        QCOMPARE(watcher->method(), u"scopes"_s);
        QVERIFY(!timerRuns(*watcher));
        QCOMPARE(watcher->followedProcessCount(), 0);

        // Started from a shell while its unit runs: the unit's end finds it in /proc.
        QVERIFY(QDir().mkdir(unit(u"app.slice/app-gnome-org.example.Sleeper-1.scope"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 2, 2000);
        QProcess again;
        start(again, app.program);
        QVERIFY(QDir().rmdir(unit(u"app.slice/app-gnome-org.example.Sleeper-1.scope"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(watcher->followedProcessCount(), 1, 2000);
        QVERIFY(watcher->isRunning());
        QCOMPARE(changes.size(), 2);
        again.kill();
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 3, 2000);
        QVERIFY(!watcher->isRunning());
    }

    // The kernel's own cgroup files, where a writable cgroup2 folder is
    // given (WAKORA_TEST_CGROUP2, as root in a container): a unit's cgroup
    // made, a process moved into it, the process's end seen in cgroup.events
    // while the cgroup lingers, the cgroup removed.
    void realCgroupTree()
    {
        const QString given = qEnvironmentVariable("WAKORA_TEST_CGROUP2");
        if (given.isEmpty())
            QSKIP("WAKORA_TEST_CGROUP2 names no writable cgroup2 folder");
        const QString top = given + u"/wakora-presence-%1"_s.arg(::getpid());
        const QString manager = top + u"/user@1000.service"_s;
        const QString scope = manager + u"/app.slice/app-gnome-org.example.Sleeper-1.scope"_s;
        const auto removeAll = qScopeGuard([&] {
            for (const QString &folder : { scope, manager + u"/app.slice"_s, manager, top })
                QDir().rmdir(folder);
        });
        QVERIFY(QDir().mkpath(manager + u"/app.slice"_s));
        const auto watcher = presence(fake, manager, 1h);
        QSignalSpy changes(watcher.get(), &ApplicationPresence::runningChanged);
        watcher->watch(u"org.example.Sleeper"_s);
        QVERIFY(!watcher->isRunning());
        QVERIFY(QDir().mkdir(scope));
        QTest::qWait(100);
        QVERIFY(!watcher->isRunning()); // empty until a process is moved in

        QProcess process;
        start(process, root->filePath(u"bin/presence-sleep"_s));
        write(scope + u"/cgroup.procs"_s, QByteArray::number(process.processId()));
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 1, 2000);
        process.kill();
        QVERIFY(process.waitForFinished());
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 2, 2000);
        QVERIFY(QFileInfo(scope).isDir());
        QVERIFY(QDir().rmdir(scope));
        QTest::qWait(50);
        QCOMPARE(changes.size(), 2);
    }

    // A Terminal=true entry read from its desktop file.
    void terminalEntryFromItsFile()
    {
        const Sleeper app = sleeper("Terminal=true\n");
        QVERIFY(app.applications->runsInTerminal(u"org.example.Sleeper"_s));
        QVERIFY(!app.applications->runsInTerminal(u"org.example.Other"_s));
        const auto watcher = presence(app.applications, tree(), 1h);
        watcher->watch(u"org.example.Sleeper"_s);
        QCOMPARE(watcher->method(), u"processes"_s);
    }
};

QTEST_GUILESS_MAIN(TestApplicationPresence)
#include "tst_applicationpresence.moc"
