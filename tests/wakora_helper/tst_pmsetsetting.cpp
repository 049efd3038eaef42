#include "PmsetSetting.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The setting through the power-management command, against stand-in
// scripts: what it passes, what it reads, and how each failure reads.
class TestPmsetSetting : public QObject
{
    Q_OBJECT

    QTemporaryDir directory;

    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = directory.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write("#!/bin/sh\n" + body);
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }

    QString calls() const
    {
        QFile file(directory.filePath(QStringLiteral("calls")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private Q_SLOTS:
    void readsTheListing_data()
    {
        QTest::addColumn<QByteArray>("listing");
        QTest::addColumn<bool>("disabled");
        QTest::newRow("disabled") << QByteArray("System-wide power settings:\n SleepDisabled 1\n") << true;
        QTest::newRow("not disabled") << QByteArray("System-wide power settings:\n SleepDisabled 0\n") << false;
        QTest::newRow("no such line") << QByteArray("Currently in use:\n sleep 10\n") << false;
    }

    void readsTheListing()
    {
        QFETCH(QByteArray, listing);
        QFETCH(bool, disabled);
        const QString pmset = script(QStringLiteral("listing"),
            "echo \"$@\" >> '" + QFile::encodeName(directory.filePath(QStringLiteral("calls"))) + "'\nprintf '"
                + listing + "'\necho noise >&2\n");
        PmsetSetting setting(pmset, { QStringLiteral("--config-dir"), QStringLiteral("/somewhere") });
        const auto read = setting.read();
        QVERIFY2(read, qPrintable(read ? QString() : read.error()));
        QCOMPARE(read.value(), disabled);
        QCOMPARE(calls(), QStringLiteral("--config-dir /somewhere -g\n"));
        QFile::remove(directory.filePath(QStringLiteral("calls")));
    }

    void writesWithTheCommandsArguments()
    {
        const QString pmset = script(QStringLiteral("writer"),
            "echo \"$@\" >> '" + QFile::encodeName(directory.filePath(QStringLiteral("calls"))) + "'\n");
        PmsetSetting setting(pmset);
        QVERIFY(setting.write(true));
        QVERIFY(setting.write(false));
        QCOMPARE(calls(), QStringLiteral("-a disablesleep 1\n-a disablesleep 0\n"));
    }

    void failuresNameTheirCause()
    {
        PmsetSetting exits(script(QStringLiteral("exits"), "echo ' SleepDisabled 1'\nexit 3\n"));
        const auto read = exits.read();
        QVERIFY(!read);
        QCOMPARE(read.error(), QStringLiteral("pmset exited with 3"));
        const auto written = exits.write(true);
        QVERIFY(!written);
        QCOMPARE(written.error(), QStringLiteral("pmset exited with 3"));

        PmsetSetting killed(script(QStringLiteral("killed"), "kill -9 $$\n"));
        const auto crashed = killed.write(true);
        QVERIFY(!crashed);
        QCOMPARE(crashed.error(), QStringLiteral("pmset was ended by signal 9"));

        PmsetSetting missing(directory.filePath(QStringLiteral("no-such-command")));
        const auto notLaunched = missing.read();
        QVERIFY(!notLaunched);
        QVERIFY(!notLaunched.error().isEmpty());
        QVERIFY2(!notLaunched.error().startsWith(QStringLiteral("pmset exited")), qPrintable(notLaunched.error()));
    }

    void invalidUtf8IsReplacedNotFatal()
    {
        PmsetSetting setting(script(QStringLiteral("bytes"), "printf ' SleepDisabled 1\\n\\377\\376 junk\\n'\n"));
        const auto read = setting.read();
        QVERIFY(read);
        QVERIFY(read.value());
    }
};

QTEST_GUILESS_MAIN(TestPmsetSetting)
#include "tst_pmsetsetting.moc"
