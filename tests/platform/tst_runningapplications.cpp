#include "DesktopEntry.h"
#include "FakeRunningApplications.h"
#include "SystemRunningApplications.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Processes named through desktop entries: the entry parser, and the /proc
// reader over a fake /proc and a temporary XDG data tree.
class TestRunningApplications : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;
    SystemRunningApplications::Sources sources;

    QString at(const QString &relative) const { return root->filePath(relative); }

    void write(const QString &relative, const QByteArray &bytes, bool executable = false)
    {
        const QString path = at(relative);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        if (executable)
            QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
    }

    void writeEntry(const QString &relative, const QByteArray &body)
    {
        write(relative, "# written by the test\n[Desktop Entry]\n" + body);
    }

    // A process as /proc shows it.
    void addProcess(qint32 pid, const QString &executable, const QByteArray &comm, uid_t uid = ::getuid())
    {
        const QString folder = u"proc/%1/"_s.arg(pid);
        write(folder + u"status"_s,
            "Name:\t" + comm + "\nUmask:\t0022\nState:\tS (sleeping)\nUid:\t" + QByteArray::number(uid) + "\t"
                + QByteArray::number(uid) + "\t0\t0\n");
        write(folder + u"comm"_s, comm + "\n");
        QVERIFY(QFile::link(executable, at(folder + u"exe"_s)));
    }

    // Moves every applications folder's time into the past, as if nothing had
    // changed there for a while.
    void settleFolders()
    {
        for (const QString &folder : { u"home/applications"_s, u"sys/applications"_s, u"sys/applications/kde"_s }) {
            const struct timespec times[2] = { { ::time(nullptr) - 60, 0 }, { ::time(nullptr) - 60, 0 } };
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(at(folder)).constData(), times, 0), 0);
        }
    }

private Q_SLOTS:
    void init()
    {
        root = std::make_unique<QTemporaryDir>();
        QVERIFY(root->isValid());
        sources.procRoot = at(u"proc"_s);
        sources.dataDirs = QStringList{ at(u"home"_s), at(u"missing"_s), at(u"sys"_s) };
        sources.searchPath = QStringList{ at(u"bin"_s) };
        sources.locale = QLocale(QLocale::Korean, QLocale::SouthKorea);
        sources.uid = ::getuid();

        write(u"lib/browser/browser-bin"_s, "ELF", true);
        QVERIFY(QDir().mkpath(at(u"bin"_s)));
        QVERIFY(QFile::link(at(u"lib/browser/browser-bin"_s), at(u"bin/browser"_s)));
        writeEntry(u"sys/applications/browser.desktop"_s,
            "Type=Application\nName=Web Browser\nName[ko]=웹 브라우저\nIcon=web-browser\nExec=browser %u\n");
        write(u"opt/My Notes/notes"_s, "ELF", true);
        writeEntry(u"sys/applications/kde/notes.desktop"_s,
            "Type=Application\nName=Notes\nName[ko_KR]=메모\nName[ko]=노트\nExec=\""
                + at(u"opt/My Notes/notes"_s).toUtf8() + "\" --new-window\n");
        write(u"bin/tray-helper"_s, "ELF", true);
        writeEntry(
            u"sys/applications/tray.desktop"_s, "Type=Application\nName=Tray\nNoDisplay=true\nExec=tray-helper\n");
        write(u"bin/masked"_s, "ELF", true);
        writeEntry(u"sys/applications/masked.desktop"_s, "Type=Application\nName=Masked\nExec=masked\n");
        writeEntry(u"home/applications/masked.desktop"_s, "Type=Application\nName=Masked\nHidden=true\nExec=masked\n");
        write(u"bin/editor"_s, "ELF", true);
        writeEntry(u"sys/applications/editor.desktop"_s, "Type=Application\nName=System Editor\nExec=editor\n");
        writeEntry(u"home/applications/editor.desktop"_s, "Type=Application\nName=My Editor\nExec=editor %F\n");
        write(u"bin/python3"_s, "ELF", true);
        write(u"bin/photo-importer"_s, "#!/usr/bin/python3\n", true);
        writeEntry(u"sys/applications/photos.desktop"_s, "Type=Application\nName=Photos\nExec=photo-importer\n");
        writeEntry(u"sys/applications/shell.desktop"_s, "Type=Application\nName=Shell Thing\nExec=sh -c \"true\"\n");
        writeEntry(u"sys/applications/site.desktop"_s, "Type=Link\nName=Site\nURL=https://example.org\n");
    }

    void entryParsing()
    {
        const auto entry
            = DesktopEntry::parse("[Other]\nName=Wrong\n"
                                  "[Desktop Entry]\n"
                                  "Type = Application\n"
                                  "Name=Two\\sWords\n"
                                  "Name=Repeated\n"
                                  "Name[ko]=한국어\n"
                                  "Name[ko_KR]=대한민국\n"
                                  "Name[de]=Deutsch\n"
                                  "Exec=env LANG=C GDK_BACKEND=x11 \"/opt/a b/app\" --flag \"quoted \\\"arg\\\"\"\n"
                                  "NoDisplay=false\n"
                                  "[Desktop Action new]\n"
                                  "Name=Action\n");
        QVERIFY(entry);
        QCOMPARE(entry->type, u"Application"_s);
        QCOMPARE(entry->name, u"Two Words"_s);
        QVERIFY(entry->isVisibleApplication());
        QCOMPARE(entry->program(), u"/opt/a b/app"_s);
        QCOMPARE(DesktopEntry::execArguments(entry->exec),
            QStringList(
                { u"env"_s, u"LANG=C"_s, u"GDK_BACKEND=x11"_s, u"/opt/a b/app"_s, u"--flag"_s, u"quoted \"arg\""_s }));

        QCOMPARE(entry->localizedName(QLocale(QLocale::Korean, QLocale::SouthKorea)), u"대한민국"_s);
        QCOMPARE(entry->localizedName(QLocale(QLocale::Korean, QLocale::NorthKorea)), u"한국어"_s);
        QCOMPARE(entry->localizedName(QLocale(QLocale::German, QLocale::Austria)), u"Deutsch"_s);
        QCOMPARE(entry->localizedName(QLocale(QLocale::French, QLocale::France)), u"Two Words"_s);
        QCOMPARE(entry->localizedName(QLocale::c()), u"Two Words"_s);

        QVERIFY(!DesktopEntry::parse("Name=No group\n"));
        QVERIFY(!DesktopEntry::parse("[Desktop Entry]\nType=Application\nHidden=true\n")->isVisibleApplication());
        QVERIFY(!DesktopEntry::parse("[Desktop Entry]\nType=Link\n")->isVisibleApplication());
    }

    void regularApplicationsAreNamedFromTheirEntry()
    {
        addProcess(100, at(u"lib/browser/browser-bin"_s), "browser-bin");
        addProcess(101, at(u"opt/My Notes/notes"_s), "notes");
        addProcess(102, at(u"bin/editor"_s), "editor");
        SystemRunningApplications applications(sources);

        // PATH lookup and symlinks lead from Exec to the real executable.
        QCOMPARE(applications.application(100),
            std::optional<RunningApplication>({ 100, true, u"웹 브라우저"_s, u"web-browser"_s }));
        QCOMPARE(applications.application(101)->localizedName, u"메모"_s);
        // The data folder listed first wins for the same desktop file id.
        QCOMPARE(applications.application(102)->localizedName, u"My Editor"_s);

        sources.locale = QLocale(QLocale::English, QLocale::UnitedStates);
        SystemRunningApplications english(sources);
        QCOMPARE(english.application(100)->localizedName, u"Web Browser"_s);
    }

    void otherProcessesAreNotRegular()
    {
        addProcess(200, at(u"bin/tray-helper"_s), "tray-helper");
        addProcess(201, at(u"bin/masked"_s), "masked");
        addProcess(202, u"/usr/sbin/some-daemon"_s, "some-daemon");
        addProcess(203, u"/bin/sh"_s, "sh"); // an entry runs sh, but sh is no application
        SystemRunningApplications applications(sources);
        for (qint32 pid : { 200, 201, 202, 203 }) {
            const auto application = applications.application(pid);
            QVERIFY2(application && !application->isRegular, qPrintable(QString::number(pid)));
        }
        QCOMPARE(applications.application(202)->localizedName, u"some-daemon"_s);
        QCOMPARE(applications.application(202)->iconName, QString());
    }

    void scriptsAreKnownByTheirProcessName()
    {
        addProcess(300, at(u"bin/python3"_s), "photo-importer");
        addProcess(301, at(u"bin/python3"_s), "python3");
        SystemRunningApplications applications(sources);
        QCOMPARE(applications.application(300)->localizedName, u"Photos"_s);
        QVERIFY(applications.application(300)->isRegular);
        QVERIFY(!applications.application(301)->isRegular);
    }

    void upgradedExecutableStillMatches()
    {
        addProcess(400, at(u"lib/browser/browser-bin"_s) + u" (deleted)"_s, "browser-bin");
        SystemRunningApplications applications(sources);
        QVERIFY(applications.application(400)->isRegular);
    }

    void unknownAndForeignProcessesAreAbsent()
    {
        addProcess(500, at(u"bin/editor"_s), "editor", ::getuid() + 1);
        write(u"proc/501/status"_s, "Name:\tbroken\n"); // no Uid line
        SystemRunningApplications applications(sources);
        QVERIFY(!applications.application(500));
        QVERIFY(!applications.application(501));
        QVERIFY(!applications.application(502));
        QVERIFY(!applications.application(0));
        QVERIFY(!applications.application(-1));
    }

    void entriesAreParsedAgainOnlyAfterAChange()
    {
        addProcess(600, at(u"bin/editor"_s), "editor");
        write(u"bin/viewer"_s, "ELF", true);
        addProcess(601, at(u"bin/viewer"_s), "viewer");
        settleFolders();
        SystemRunningApplications applications(sources);
        QVERIFY(!applications.application(601)->isRegular);
        QVERIFY(applications.application(600)->isRegular);
        QVERIFY(!applications.application(601)->isRegular);
        QCOMPARE(applications.scanCount(), 1u);

        // A new entry in a subfolder is seen at the next lookup.
        writeEntry(u"sys/applications/kde/viewer.desktop"_s, "Type=Application\nName=Viewer\nExec=viewer\n");
        QCOMPARE(applications.application(601)->localizedName, u"Viewer"_s);
        QCOMPARE(applications.scanCount(), 2u);

        // So is a removed one, and a folder that did not exist before.
        QVERIFY(QFile::remove(at(u"home/applications/editor.desktop"_s)));
        QCOMPARE(applications.application(600)->localizedName, u"System Editor"_s);
        writeEntry(u"missing/applications/viewer.desktop"_s, "Type=Application\nName=Other Viewer\nExec=viewer\n");
        QCOMPARE(applications.application(601)->localizedName, u"Other Viewer"_s);
    }

    void entriesAreFoundByIdOrName()
    {
        write(u"bin/viewer"_s, "ELF", true);
        // A Name that is another entry's id: the id comes first.
        writeEntry(u"sys/applications/zz-viewer.desktop"_s, "Type=Application\nName=editor\nExec=viewer\n");
        SystemRunningApplications applications(sources);
        const DesktopApplication browser{ u"browser"_s, u"웹 브라우저"_s, u"web-browser"_s };
        for (const QString &key :
            { u"browser"_s, u"browser.desktop"_s, u"BROWSER"_s, u"web browser"_s, u"웹 브라우저"_s, u" browser "_s }) {
            QCOMPARE(applications.desktopApplication(key), std::optional(browser));
        }
        // An entry in a subfolder has the folder in its id.
        QCOMPARE(applications.desktopApplication(u"kde-notes"_s)->localizedName, u"메모"_s);
        QCOMPARE(applications.desktopApplication(u"Notes"_s)->id, u"kde-notes"_s);
        // By the file name of the program, as some applications give a path.
        QCOMPARE(applications.desktopApplication(u"/opt/elsewhere/NOTES"_s)->id, u"kde-notes"_s);
        QCOMPARE(applications.desktopApplication(u"photo-importer"_s)->id, u"photos"_s);
        QCOMPARE(applications.desktopApplication(u"editor"_s)->localizedName, u"My Editor"_s);
        QCOMPARE(applications.desktopApplication(u"zz-viewer"_s)->id, u"zz-viewer"_s);

        // Hidden, not shown, not an application, a launcher, or nothing.
        for (const QString &key :
            { u"masked"_s, u"tray"_s, u"Tray"_s, u"site"_s, u"sh"_s, u"/usr/bin/python3"_s, QString(), u".desktop"_s })
            QVERIFY2(!applications.desktopApplication(key), qPrintable(key));
    }

    // Applications give their short name or their window class where the
    // entry carries a longer name: Firefox ESR inhibits as "Firefox".
    void entriesAreFoundByWindowClassOrLeadingWord()
    {
        write(u"lib/firefox-esr/firefox-esr"_s, "ELF", true);
        writeEntry(u"sys/applications/firefox-esr.desktop"_s,
            "Type=Application\nName=Firefox ESR\nExec=" + at(u"lib/firefox-esr/firefox-esr"_s).toUtf8()
                + " %u\nStartupWMClass=Firefox-esr\n");
        write(u"bin/chat-launcher"_s, "ELF", true);
        writeEntry(u"sys/applications/com.example.Chat.desktop"_s,
            "Type=Application\nName=Chat\nExec=chat-launcher\nStartupWMClass=ChatClient\n");
        write(u"bin/code-oss"_s, "ELF", true);
        writeEntry(u"sys/applications/code-oss.desktop"_s, "Type=Application\nName=Code - OSS\nExec=code-oss\n");
        write(u"bin/code-insiders"_s, "ELF", true);
        writeEntry(
            u"sys/applications/code-insiders.desktop"_s, "Type=Application\nName=Insiders\nExec=code-insiders\n");
        SystemRunningApplications applications(sources);

        for (const QString &key :
            { u"Firefox"_s, u"firefox"_s, u"firefox-esr"_s, u"FIREFOX-ESR"_s, u"/usr/lib/firefox-esr/firefox-esr"_s })
            QCOMPARE(applications.desktopApplication(key).value_or(DesktopApplication{}).id, u"firefox-esr"_s);
        QCOMPARE(
            applications.desktopApplication(u"chatclient"_s).value_or(DesktopApplication{}).id, u"com.example.Chat"_s);
        // A word two entries begin with names neither for sure; only whole
        // words count, and a very short one never does.
        for (const QString &key : { u"code"_s, u"fire"_s, u"fi"_s, u"esr"_s, u"chat-"_s })
            QVERIFY2(!applications.desktopApplication(key), qPrintable(key));
    }

    void processesOfAnEntry()
    {
        const QString browserBin = at(u"lib/browser/browser-bin"_s);
        addProcess(700, browserBin, "browser-bin");
        addProcess(702, browserBin, "browser-bin"); // one of its helpers
        addProcess(703, browserBin, "browser-bin", ::getuid() + 1);
        addProcess(701, at(u"bin/editor"_s), "editor");
        addProcess(704, at(u"bin/python3"_s), "photo-importer");
        addProcess(705, at(u"bin/python3"_s), "python3");
        // A known program that renamed itself is still that program.
        addProcess(706, at(u"bin/editor"_s), "photo-importer");
        write(u"proc/sys/kernel/version"_s, "not a process");
        // A second entry running the same program.
        writeEntry(u"sys/applications/private.desktop"_s, "Type=Application\nName=Private\nExec=browser --private\n");
        SystemRunningApplications applications(sources);

        QCOMPARE(applications.processIds(u"browser"_s), QList<qint32>({ 700, 702 }));
        QCOMPARE(applications.processIds(u"private"_s), QList<qint32>({ 700, 702 }));
        QCOMPARE(applications.processIds(u"editor"_s), QList<qint32>({ 701, 706 }));
        QCOMPARE(applications.processIds(u"photos"_s), QList<qint32>({ 704 }));
        QVERIFY(applications.processIds(u"kde-notes"_s).isEmpty());
        QVERIFY(applications.processIds(u"masked"_s).isEmpty());
        QVERIFY(applications.processIds(u"Browser"_s).isEmpty()); // ids are exact here
        QVERIFY(applications.processIds(QString()).isEmpty());
        // The process is still named after the entry that comes first.
        QCOMPARE(applications.application(700)->localizedName, u"웹 브라우저"_s);
    }

    // A Flatpak application's entry runs "flatpak run <app id>"; its processes
    // (bwrap, the helpers, the programs inside the sandbox) are told by the
    // app id of their unit, or without one by the sandbox's /.flatpak-info.
    void flatpakSandboxesByTheirAppId()
    {
        writeEntry(u"sys/applications/org.example.Maps.desktop"_s,
            "Type=Application\nName=Maps\nExec=/usr/bin/flatpak run --branch=stable --arch=x86_64 "
            "--command=maps --file-forwarding org.example.Maps @@u %U @@\nX-Flatpak=org.example.Maps\n");
        writeEntry(u"sys/applications/org.example.Chat.desktop"_s,
            "Type=Application\nName=Chat\nExec=flatpak run --command=chat org.example.Chat//beta\n");
        const QByteArray manager = "/user.slice/user-1000.slice/user@1000.service/app.slice/";
        addProcess(800, u"/usr/bin/bwrap"_s, "bwrap");
        write(u"proc/800/cgroup"_s, "0::" + manager + "app-flatpak-org.example.Maps-800.scope\n");
        addProcess(801, u"/app/bin/maps"_s, "maps");
        write(u"proc/801/cgroup"_s, "0::/user.slice/user-1000.slice/session-2.scope\n");
        write(u"proc/801/root/.flatpak-info"_s,
            "[Application]\nname=org.example.Maps\nruntime=runtime/org.example.Platform/x86_64/1\n\n"
            "[Instance]\nname=org.example.Other\n");
        addProcess(802, u"/app/bin/chat"_s, "chat");
        write(u"proc/802/cgroup"_s,
            "1:name=systemd:" + manager + "app-flatpak-org.example.Chat-802.scope\n0::" + manager + "\n");
        addProcess(803, u"/usr/bin/bwrap"_s, "bwrap");
        write(u"proc/803/cgroup"_s, "0::" + manager + "app-flatpak-org.example.Other-803.scope\n");
        addProcess(804, u"/app/bin/maps"_s, "maps", ::getuid() + 1);
        write(u"proc/804/cgroup"_s, "0::" + manager + "app-flatpak-org.example.Maps-804.scope\n");
        addProcess(805, at(u"lib/browser/browser-bin"_s), "browser-bin");
        write(u"proc/805/cgroup"_s, "0::" + manager + "app-gnome-browser-805.scope\n");
        SystemRunningApplications applications(sources);

        QCOMPARE(applications.processIds(u"org.example.Maps"_s), QList<qint32>({ 800, 801 }));
        QCOMPARE(applications.processIds(u"org.example.Chat"_s), QList<qint32>({ 802 }));
        QCOMPARE(applications.processIds(u"browser"_s), QList<qint32>({ 805 }));
        QCOMPARE(applications.application(801)->localizedName, u"Maps"_s);
        QVERIFY(applications.application(800)->isRegular);
        QCOMPARE(applications.application(802)->localizedName, u"Chat"_s);
        QVERIFY(!applications.application(803)->isRegular);
        QCOMPARE(applications.application(805)->localizedName, u"웹 브라우저"_s);
        QVERIFY(!applications.runsInTerminal(u"org.example.Maps"_s));
    }

    void readsTheRealProc()
    {
        SystemRunningApplications::Sources real = SystemRunningApplications::systemSources();
        real.dataDirs = QStringList{ at(u"nothing"_s) };
        SystemRunningApplications applications(real);
        const auto self = applications.application(qint32(::getpid()));
        QVERIFY(self);
        QVERIFY(!self->isRegular);
        QVERIFY(self->localizedName && !self->localizedName->isEmpty());
    }

    void fakeAnswersWhatItHolds()
    {
        FakeRunningApplications fake;
        fake.insert({ 7, true, u"Mail"_s, u"mail"_s });
        QCOMPARE(fake.application(7)->localizedName, u"Mail"_s);
        QVERIFY(!fake.application(8));
        fake.remove(7);
        QVERIFY(!fake.application(7));

        fake.insertEntry({ u"org.example.Mail"_s, u"Mail"_s, u"mail"_s }, { 9, 4 });
        QCOMPARE(fake.desktopApplication(u"MAIL"_s)->id, u"org.example.Mail"_s);
        QCOMPARE(fake.desktopApplication(u"org.example.mail"_s)->id, u"org.example.Mail"_s);
        QVERIFY(!fake.desktopApplication(u"Calendar"_s));
        QCOMPARE(fake.processIds(u"org.example.Mail"_s), QList<qint32>({ 4, 9 }));
        QVERIFY(fake.processIds(u"Mail"_s).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRunningApplications)
#include "tst_runningapplications.moc"
