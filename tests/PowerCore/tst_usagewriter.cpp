#include "TmpfsMount.h"
#include "UsageStore.h"
#include "UsageWriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include <atomic>
#include <csignal>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The index-th history of the killed writer's run: lengths differ from one
// to the next, so a torn file could not pass for a whole one.
QByteArray version(int index)
{
    const QDateTime base(QDate(2026, 3, 10), QTime(0, 0), QTimeZone::utc());
    UsageStore::Contents contents;
    for (int session = 0; session <= index % 40; ++session)
        contents.sessions.append({ base.addSecs(session * 600), base.addSecs(session * 600 + 300) });
    contents.lastSeen = base.addSecs(index);
    return contents.toJson();
}

// Counts what the writer does, on which thread, and can fail or hold a write.
struct ScriptedDisk {
    std::atomic<int> writes = 0;
    std::atomic<int> renders = 0;
    std::atomic<bool> failing = false;
    std::atomic<bool> offThread = true;
    QThread *const mainThread = QThread::currentThread();

    UsageWriter::Write write()
    {
        return [this](const QString &path, const QByteArray &bytes) -> Expected<void, QString> {
            if (QThread::currentThread() == mainThread)
                offThread = false;
            ++writes;
            if (failing)
                return Unexpected(u"No space left on device"_s);
            return UsageWriter::writeAtomically(path, bytes);
        };
    }

    UsageWriter::Render render(const QByteArray &bytes)
    {
        return [this, bytes] {
            ++renders;
            return bytes;
        };
    }
};

} // namespace

// The writer's thread against the real file system: coalescing, retries,
// flushing, a full and a read-only disk, and a writer killed mid-write.
class TestUsageWriter : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> folder;
    QString path;

private Q_SLOTS:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(folder->isValid());
        path = folder->filePath(u"Wakora/usage.json"_s);
    }

    void burstsCoalesceToTheNewest()
    {
        ScriptedDisk disk;
        UsageWriter writer(path, { 1h, 1h, disk.write() });
        for (int index = 1; index <= 200; ++index)
            writer.submit(disk.render(version(index)));
        QVERIFY(writer.flush());
        QCOMPARE(readAll(path), version(200));
        // The 199 older ones were dropped before they were even rendered.
        QCOMPARE(disk.writes.load(), 1);
        QCOMPARE(disk.renders.load(), 1);
        QVERIFY(disk.offThread);
        // Nothing new: nothing to write.
        QVERIFY(writer.flush());
        QCOMPARE(disk.writes.load(), 1);
    }

    void aSteadyStreamOfChangesStillReachesTheDisk()
    {
        // Changes every 20 ms for 1.5 s, each closer than the coalescing
        // delay: the first must be on disk within a second all the same, and
        // the stream must still coalesce, one write per delay at most.
        ScriptedDisk disk;
        const auto delay = UsageWriter::Options().coalesceDelay;
        UsageWriter writer(path, { delay, 1h, disk.write() });
        QElapsedTimer elapsed;
        elapsed.start();
        std::optional<qint64> firstOnDisk;
        for (int index = 1; elapsed.elapsed() < 1500; ++index) {
            writer.submit([bytes = version(index)] { return bytes; });
            if (!firstOnDisk && QFile::exists(path))
                firstOnDisk = elapsed.elapsed();
            QThread::msleep(20);
        }
        QVERIFY2(firstOnDisk && *firstOnDisk < 1000, "the stream kept putting the write off");
        const int mostWrites = int(elapsed.elapsed() / delay.count()) + 1;
        QVERIFY2(disk.writes <= mostWrites, qPrintable(u"%1 writes"_s.arg(disk.writes.load())));
    }

    void submitNeverWaitsForTheDisk()
    {
        // Writes are held until the test lets them go; if submit() waited
        // for one, this thread would be stuck until the hold gives up.
        std::atomic<bool> held = true;
        std::atomic<bool> holding = false;
        const auto heldWrite = [&](const QString &file, const QByteArray &bytes) {
            holding = true;
            for (int waited = 0; held && waited < 10'000; ++waited)
                QThread::msleep(1);
            holding = false;
            return UsageWriter::writeAtomically(file, bytes);
        };
        UsageWriter writer(path, { 0ms, 1h, heldWrite });
        writer.submit([] { return version(1); });
        QTRY_VERIFY(holding);
        for (int index = 2; index <= 50; ++index)
            writer.submit([index] { return version(index); });
        QVERIFY(!writer.flush(50ms)); // gives up at its time-out, the write still held
        QVERIFY(holding);
        held = false;
        QVERIFY(writer.flush());
        QCOMPARE(readAll(path), version(50));
    }

    void failedWritesAreRetried()
    {
        ScriptedDisk disk;
        disk.failing = true;
        {
            // On their own, after the retry interval.
            UsageWriter writer(path, { 0ms, 100ms, disk.write() });
            writer.submit(disk.render(version(1)));
            QVERIFY(!writer.flush());
            QVERIFY(!QFile::exists(path));
            disk.failing = false;
            QTRY_COMPARE(readAll(path), version(1));
            QVERIFY(writer.flush());
        }
        {
            // With the next change, long before a retry interval of an hour.
            disk.failing = true;
            UsageWriter writer(path, { 0ms, 1h, disk.write() });
            writer.submit(disk.render(version(2)));
            QVERIFY(!writer.flush());
            disk.failing = false;
            writer.submit(disk.render(version(3)));
            QTRY_COMPARE(readAll(path), version(3));
        }
    }

    void destructionWritesWhatIsPending()
    {
        {
            UsageWriter writer(path, { 1h, 1h, &UsageWriter::writeAtomically });
            writer.submit([] { return version(7); });
        }
        QCOMPARE(readAll(path), version(7));
    }

    void fullOrReadOnlyDiskKeepsTheHistory_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("disk full") << false;
        QTest::newRow("read-only data folder") << true;
    }

    void fullOrReadOnlyDiskKeepsTheHistory()
    {
        QFETCH(bool, readOnly);
        const QString data = folder->filePath(u"data"_s);
        QVERIFY(QDir().mkpath(data));
        TmpfsMount disk(data);
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.error()));
        const QString file = data + u"/Wakora/usage.json"_s;
        QDateTime now(QDate(2026, 3, 10), QTime(12, 0), QTimeZone::utc());
        UsageStore store(file, [&] { return now; }, QTimeZone::systemTimeZone(), { 0ms, 100ms });
        store.sessionStarted(now);
        QVERIFY(store.flush());
        const QByteArray saved = readAll(file);

        const QString filler = data + u"/filler"_s;
        QVERIFY(readOnly ? disk.setReadOnly(true) : TmpfsMount::fill(filler));
        for (int minute = 1; minute <= 30; ++minute) {
            now = now.addSecs(60);
            store.recordSample({ u"Browser"_s, u"Mail"_s });
        }
        store.sessionEnded(now);
        QVERIFY(!store.flush());
        // The history goes on in memory; the file keeps what it had, whole,
        // and no temporary file is left behind.
        QCOMPARE(store.summary(1, 5).apps, QList<AppUsage>({ { u"Browser"_s, 30 }, { u"Mail"_s, 30 } }));
        QCOMPARE(store.summary(1, 5).days.at(0).seconds, 1800.0);
        QCOMPARE(readAll(file), saved);
        QCOMPARE(QDir(data + u"/Wakora"_s).entryList(QDir::Files | QDir::Hidden), QStringList({ u"usage.json"_s }));

        // Room again: the writer's retry saves all of it, with no change to prompt it.
        QVERIFY(readOnly ? disk.setReadOnly(false) : QFile::remove(filler));
        QTRY_COMPARE(readAll(file), store.contents().toJson());
    }

    void killedWriterLeavesTheOldOrTheNewFile()
    {
        // Rounds of 1,000 synced writes by another process, killed at a random
        // point; meanwhile this one reads the file as fast as it can. Every
        // read, and the file after the kill, must be a whole version, never
        // older than one read before.
        constexpr int rounds = 3;
        constexpr int perRound = 1000;
        QHash<QByteArray, int> versions;
        for (int index = 0; index <= rounds * perRound; ++index)
            versions.insert(version(index), index);
        QVERIFY(UsageWriter::writeAtomically(path, version(0)));

        int newest = 0;
        int reads = 0;
        for (int round = 0; round < rounds; ++round) {
            const int first = round * perRound + 1;
            const int killAfter = QRandomGenerator::global()->bounded(50, perRound - 50);
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                { u"--write-versions"_s, path, QString::number(first), QString::number(perRound) });
            QVERIFY(child.waitForStarted());
            int reported = 0;
            bool killed = false;
            while (child.state() != QProcess::NotRunning) {
                child.waitForReadyRead(1);
                while (child.canReadLine())
                    reported = child.readLine().trimmed().toInt();
                if (!killed && reported >= first + killAfter) {
                    ::kill(pid_t(child.processId()), SIGKILL);
                    killed = true;
                }
                const QByteArray bytes = readAll(path);
                const auto found = versions.constFind(bytes);
                QVERIFY2(found != versions.cend(), bytes.left(200).constData());
                QVERIFY(UsageStore::Contents::fromJson(bytes));
                QVERIFY2(found.value() >= newest, "a read went back to an older version");
                newest = found.value();
                ++reads;
            }
            QCOMPARE(child.exitStatus(), QProcess::CrashExit); // killed during its writes, not done
            const auto found = versions.constFind(readAll(path));
            QVERIFY(found != versions.cend());
            QVERIFY(found.value() >= std::max(newest, reported));
            QVERIFY(found.value() < first + perRound);
            newest = found.value();
        }
        qInfo("%d reads, all whole; the last version on disk is %d", reads, newest);
        // A writer killed between naming its new file and renaming it leaves
        // that file behind; the next writer removes it, and leaves the aside
        // copy of an unreadable history alone.
        QVERIFY(UsageWriter::writeAtomically(path + u".corrupt"_s, "not JSON"));
        QVERIFY(UsageWriter::writeAtomically(path + u".k3x9q1"_s, version(1)));
        {
            UsageWriter next(path, { 0ms, 1h, &UsageWriter::writeAtomically });
            next.submit([&] { return version(newest + 1); });
            QVERIFY(next.flush());
        }
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
            QStringList({ u"usage.json"_s, u"usage.json.corrupt"_s }));
        QCOMPARE(readAll(path), version(newest + 1));
    }
};

// With --write-versions PATH FIRST COUNT, the program writes versions FIRST to
// FIRST+COUNT-1 through a UsageWriter, each waited for, printing each index
// once it is on disk.
static int writeVersions(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString path = QString::fromLocal8Bit(argv[2]);
    const int first = QByteArray(argv[3]).toInt();
    const int count = QByteArray(argv[4]).toInt();
    UsageWriter writer(path, { 0ms, 1h, &UsageWriter::writeAtomically });
    for (int index = first; index < first + count; ++index) {
        writer.submit([index] { return version(index); });
        if (!writer.flush())
            return 1;
        std::printf("%d\n", index);
        std::fflush(stdout);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--write-versions") == 0)
        return writeVersions(argc, argv);
    QCoreApplication app(argc, argv);
    TestUsageWriter test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_usagewriter.moc"
