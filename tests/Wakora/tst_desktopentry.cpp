#include "BuildPaths.h"
#include "DesktopEntry.h"

#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QTest>

// The desktop entry that lists Wakora among the applications, as the build
// tree (which mirrors the install layout) holds it.
class TestDesktopEntry : public QObject
{
    Q_OBJECT

    static QString shared(const QString &path)
    {
        return QStringLiteral(WAKORA_BUILD_DIR "/" WAKORA_DATADIR "/") + path;
    }

private Q_SLOTS:
    void listsTheMainApplication()
    {
        QFile file(shared(QStringLiteral("applications/com.quorvel.WakoraApp.desktop")));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const std::optional<DesktopEntry> entry = DesktopEntry::parse(file.readAll());
        QVERIFY(entry);
        QVERIFY(entry->isVisibleApplication());
        QCOMPARE(entry->name, QStringLiteral("Wakora"));
        QVERIFY2(QFileInfo(entry->program()).isExecutable(), qPrintable(entry->program()));
        QCOMPARE(QFileInfo(entry->program()).canonicalFilePath(),
            QFileInfo(QStringLiteral(WAKORA_BUILD_DIR "/" WAKORA_BINDIR "/Wakora")).canonicalFilePath());
        QCOMPARE(entry->tryExec, entry->program());
        QCOMPARE(entry->icon, QStringLiteral("com.quorvel.WakoraApp"));
    }

    void theIconIsWhereThemesLook()
    {
        const QString path = shared(QStringLiteral("icons/hicolor/scalable/apps/com.quorvel.WakoraApp.svg"));
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        const QIcon icon(path);
        QVERIFY(!icon.pixmap(64, 64).isNull());
    }
};

QTEST_MAIN(TestDesktopEntry)
#include "tst_desktopentry.moc"
