#include "FileMarker.h"
#include "MarkerError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

// The marker on a real file system, owned by the test's own user.
class TestFileMarker : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;

    QString path(const QString &relative) const { return root->filePath(relative); }

private Q_SLOTS:
    void init()
    {
        root = std::make_unique<QTemporaryDir>();
        QVERIFY(root->isValid());
        QVERIFY(::chmod(QFile::encodeName(root->path()).constData(), 0755) == 0);
    }

    void createsAnEmptyFileInMissingDirectories()
    {
        FileMarker marker(path(QStringLiteral("var/lib/wakora/clamshell-owned")), ::getuid());
        QVERIFY(!marker.exists());
        QVERIFY(marker.create());
        QVERIFY(marker.exists());

        struct stat status = {};
        QCOMPARE(::lstat(QFile::encodeName(marker.path()).constData(), &status), 0);
        QVERIFY(S_ISREG(status.st_mode));
        QCOMPARE(status.st_size, 0);
        QCOMPARE(status.st_mode & 0022, 0u); // never group- or world-writable

        QVERIFY(marker.remove());
        QVERIFY(!marker.exists());
    }

    void anExistingFileIsNotOverwritten()
    {
        FileMarker marker(path(QStringLiteral("clamshell-owned")), ::getuid());
        QVERIFY(marker.create());
        const auto again = marker.create();
        QVERIFY(!again);
        QCOMPARE(again.error(), MarkerError::cannotCreate(EEXIST));
        QCOMPARE(again.error(), QStringLiteral("Cannot create marker: File exists"));
    }

    void aLinkIsNeverTheMarkerNorFollowed()
    {
        const QString target = path(QStringLiteral("elsewhere"));
        const QString at = path(QStringLiteral("clamshell-owned"));
        QVERIFY(QFile::link(target, at));
        FileMarker marker(at, ::getuid());
        QVERIFY(!marker.exists());
        QCOMPARE(marker.create().error(), MarkerError::cannotCreate(EEXIST));
        QVERIFY(!QFile::exists(target)); // the dangling link's target was not created

        // A link to a real file of ours does not count either.
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(!marker.exists());
    }

    void aDirectoryOrAnotherOwnersFileIsNotTheMarker()
    {
        QVERIFY(QDir(root->path()).mkdir(QStringLiteral("clamshell-owned")));
        QVERIFY(!FileMarker(path(QStringLiteral("clamshell-owned")), ::getuid()).exists());

        FileMarker ours(path(QStringLiteral("other")), ::getuid());
        QVERIFY(ours.create());
        QVERIFY(!FileMarker(ours.path(), ::getuid() + 1).exists());
    }

    void unsafeDirectoriesAreRefused()
    {
        const QString shared = path(QStringLiteral("shared"));
        QVERIFY(QDir().mkdir(shared));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 0775) == 0);
        FileMarker groupWritable(shared + QStringLiteral("/clamshell-owned"), ::getuid());
        QCOMPARE(groupWritable.create().error(), MarkerError::unsafeDirectory());
        QVERIFY(!QFile::exists(groupWritable.path()));

        const QString real = path(QStringLiteral("real"));
        QVERIFY(QDir().mkdir(real));
        QVERIFY(QFile::link(real, path(QStringLiteral("linked"))));
        FileMarker throughLink(path(QStringLiteral("linked/clamshell-owned")), ::getuid());
        QCOMPARE(throughLink.create().error(), QStringLiteral("Unsafe marker directory"));

        FileMarker foreign(path(QStringLiteral("real/clamshell-owned")), ::getuid() + 1);
        QCOMPARE(foreign.create().error(), MarkerError::unsafeDirectory());
    }

    void aDirectoryThatCannotBeMadeReportsTheSystemsReason()
    {
        QFile blocker(path(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        FileMarker marker(path(QStringLiteral("file/sub/clamshell-owned")), ::getuid());
        QCOMPARE(marker.create().error(), systemErrorText(ENOTDIR));
    }

    void removingAMissingMarkerFails()
    {
        FileMarker marker(path(QStringLiteral("clamshell-owned")), ::getuid());
        const auto removed = marker.remove();
        QVERIFY(!removed);
        QCOMPARE(removed.error(), QStringLiteral("Cannot remove marker: No such file or directory"));
    }
};

QTEST_GUILESS_MAIN(TestFileMarker)
#include "tst_filemarker.moc"
