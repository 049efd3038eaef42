#include "AgentHandoverFile.h"
#include "ProgramReplacement.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <sys/stat.h>
#include <unistd.h>

// The state an agent hands its successor on an upgrade: its text, the file
// it travels in (who may read it, when it is taken), and how the agent
// tells that its own program was replaced.
class TestAgentHandoverFile : public QObject
{
    Q_OBJECT

    QTemporaryDir directory;

    QString path() const { return directory.filePath(QStringLiteral("wakora-agent-handover.json")); }

    static AgentHandoverState fullState()
    {
        AgentHandoverState state;
        state.switchKinds = 3;
        state.timedSession = AgentHandoverState::TimedSession{ 2,
            QDateTime(QDate(2026, 12, 10), QTime(6, 30, 15, 250), QTimeZone::utc()), std::chrono::milliseconds(987654),
            true };
        state.lidClosedMode = true;
        return state;
    }

    static mode_t modeOf(const QString &file)
    {
        struct stat status = {};
        ::lstat(QFile::encodeName(file).constData(), &status);
        return status.st_mode & 0777;
    }

    void setAge(const QString &file, int seconds)
    {
        QFile handle(file);
        QVERIFY(handle.open(QIODevice::ReadWrite));
        QVERIFY(
            handle.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-seconds), QFileDevice::FileModificationTime));
    }

private Q_SLOTS:
    void theStateSurvivesItsText()
    {
        const AgentHandoverState full = fullState();
        QCOMPARE(AgentHandoverState::fromJson(full.toJson()), full);
        // A clock-time session has no deadline; nothing at all is a valid state too.
        AgentHandoverState clock = full;
        clock.timedSession->deadlineSinceBoot.reset();
        clock.timedSession->thenSuspend = false;
        QCOMPARE(AgentHandoverState::fromJson(clock.toJson()), clock);
        QCOMPARE(AgentHandoverState::fromJson(AgentHandoverState().toJson()), AgentHandoverState());
    }

    void textsOfAnotherShapeAreRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not JSON") << QByteArray("{\"version\":1,");
        QTest::newRow("another version") << QByteArray(R"({"version":2,"switch":1,"lidClosedMode":false})");
        QTest::newRow("no version") << QByteArray(R"({"switch":1,"lidClosedMode":false})");
        QTest::newRow("kinds out of range") << QByteArray(R"({"version":1,"switch":4,"lidClosedMode":false})");
        QTest::newRow("kinds a fraction") << QByteArray(R"({"version":1,"switch":1.5,"lidClosedMode":false})");
        QTest::newRow("lid not a flag") << QByteArray(R"({"version":1,"switch":1,"lidClosedMode":"yes"})");
        QTest::newRow("session without kinds") << QByteArray(
            R"({"version":1,"switch":0,"lidClosedMode":false,"timedSession":{"kinds":0,"endsAt":"2026-12-10T06:00:00.000Z"}})");
        QTest::newRow("session without an end") << QByteArray(
            R"({"version":1,"switch":0,"lidClosedMode":false,"timedSession":{"kinds":1,"endsAt":"soon"}})");
        QTest::newRow("negative deadline") << QByteArray(
            R"({"version":1,"switch":0,"lidClosedMode":false,"timedSession":{"kinds":1,"endsAt":"2026-12-10T06:00:00.000Z","deadlineSinceBootMs":-5}})");
    }

    void textsOfAnotherShapeAreRefused()
    {
        QFETCH(QByteArray, json);
        QVERIFY(!AgentHandoverState::fromJson(json));
    }

    void theFileIsTheUsersAloneAndTakenOnce()
    {
        const AgentHandoverFile file(path());
        // Whatever the umask, nobody else may read it.
        const mode_t umask = ::umask(0);
        const auto written = file.write(fullState());
        ::umask(umask);
        QVERIFY2(written, qPrintable(written ? QString() : written.error()));
        QCOMPARE(modeOf(path()), mode_t(0600));
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files), QStringList{ QFileInfo(path()).fileName() });
        // Written again (an agent asked twice), the file is replaced whole.
        QVERIFY(file.write(fullState()));

        QString why;
        QCOMPARE(file.take(&why), fullState());
        QVERIFY(why.isEmpty());
        QVERIFY(!QFileInfo::exists(path()));
        QVERIFY(!file.take(&why));
        QVERIFY(why.isEmpty());
    }

    void untrustedFilesAreNotTaken()
    {
        const AgentHandoverFile file(path());
        QString why;

        // Stale: ours, but from a hand-over long gone; removed.
        QVERIFY(file.write(fullState()));
        setAge(path(), 3 * 60);
        QVERIFY(!file.take(&why));
        QVERIFY(why.contains(u"stale"));
        QVERIFY(!QFileInfo::exists(path()));
        // Just within the time, taken.
        QVERIFY(file.write(fullState()));
        setAge(path(), 60);
        QVERIFY(file.take());

        // Open to others: ignored and left.
        QVERIFY(file.write(fullState()));
        QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0644) == 0);
        QVERIFY(!file.take(&why));
        QVERIFY(why.contains(u"open to others"));
        QVERIFY(QFileInfo::exists(path()));
        QFile::remove(path());

        // Another user's: ignored, left, and not discarded either.
        if (::geteuid() == 0) {
            QVERIFY(file.write(fullState()));
            QVERIFY(::chown(QFile::encodeName(path()).constData(), 65534, 65534) == 0);
            QVERIFY(!file.take(&why));
            QVERIFY(why.contains(u"owned by uid 65534"));
            file.discard();
            QVERIFY(QFileInfo::exists(path()));
            QFile::remove(path());
        }

        // A link, even to a good file of ours, is not followed.
        const AgentHandoverFile elsewhere(directory.filePath(QStringLiteral("elsewhere.json")));
        QVERIFY(elsewhere.write(fullState()));
        QVERIFY(QFile::link(elsewhere.path(), path()));
        QVERIFY(!file.take(&why));
        QVERIFY(!why.isEmpty());
        QVERIFY(QFileInfo::exists(elsewhere.path()));
        QFile::remove(path());

        // Unreadable text: taken away, but no state.
        QFile broken(path());
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{}");
        broken.close();
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(!file.take(&why));
        QVERIFY(why.contains(u"unreadable"));
    }

    void withoutARuntimeFolderNothingIsWritten()
    {
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
        QVERIFY(AgentHandoverFile::defaultPath().isEmpty());
        QVERIFY(!AgentHandoverFile(AgentHandoverFile::defaultPath()).write(fullState()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(directory.path()));
        QCOMPARE(AgentHandoverFile::defaultPath(), path());
        qputenv("XDG_RUNTIME_DIR", saved);
    }

    // A program runs from a file an upgrade then replaces, or removes.
    void aReplacedProgramIsTold()
    {
        const QString sleeper = QStandardPaths::findExecutable(QStringLiteral("sleep"));
        QVERIFY(!sleeper.isEmpty());
        const QString program = directory.filePath(QStringLiteral("bin/sleeper"));
        QVERIFY(QDir().mkpath(QFileInfo(program).path()));
        QVERIFY(QFile::copy(sleeper, program));
        QProcess running;
        running.start(program, { QStringLiteral("30") });
        QVERIFY(running.waitForStarted());
        const QString link = QStringLiteral("/proc/%1/exe").arg(running.processId());

        auto checked = ProgramReplacement::check(link);
        QVERIFY(!checked);
        QVERIFY2(checked.error().contains(u"has not been replaced"), qPrintable(checked.error()));

        // Renamed over, as a package manager does: the new file's path.
        QVERIFY(QFile::copy(sleeper, program + QStringLiteral(".new")));
        QVERIFY(::rename(QFile::encodeName(program + QStringLiteral(".new")).constData(),
                    QFile::encodeName(program).constData())
            == 0);
        checked = ProgramReplacement::check(link);
        QVERIFY2(checked, qPrintable(checked ? QString() : checked.error()));
        QCOMPARE(checked.value(), program);

        // Removed without a successor: nothing to start.
        QVERIFY(QFile::remove(program));
        checked = ProgramReplacement::check(link);
        QVERIFY(!checked);
        QVERIFY(checked.error().contains(u"gone"));
        running.kill();
        running.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestAgentHandoverFile)
#include "tst_agenthandoverfile.moc"
