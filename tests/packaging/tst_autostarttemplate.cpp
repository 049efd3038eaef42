#include "AutostartLoginItem.h"
#include "BuildPaths.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// The autostart entry installed for everyone (share/wakora/autostart, for
// an administrator to copy to /etc/xdg/autostart) is the very entry the
// agent writes for one user when "open at login" is switched on: same name,
// same keys, same agent. The build tree's copy names the build's agent.
class TestAutostartTemplate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isWhatTheAgentWritesForOneUser()
    {
        const QString agent = QStringLiteral(WAKORA_BUILD_DIR "/" WAKORA_LIBEXECDIR "/WakoraMenuBar");
        QTemporaryDir home;
        QVERIFY(home.isValid());
        AutostartLoginItem item(agent, home.path());
        QVERIFY(item.registerService());

        QFile written(item.entryPath());
        QVERIFY2(written.open(QIODevice::ReadOnly), qPrintable(written.fileName()));
        QFile installed(QStringLiteral(WAKORA_BUILD_DIR "/" WAKORA_DATADIR "/wakora/autostart/")
            + QFileInfo(item.entryPath()).fileName());
        QVERIFY2(installed.open(QIODevice::ReadOnly), qPrintable(installed.fileName()));
        QCOMPARE(QString::fromUtf8(installed.readAll()), QString::fromUtf8(written.readAll()));
    }
};

QTEST_GUILESS_MAIN(TestAutostartTemplate)
#include "tst_autostarttemplate.moc"
