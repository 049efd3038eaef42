// Timing of the running-application lookup once entries are parsed: 100
// processes looked up with 500 desktop entries installed. Prints p50 and
// p99 over 200 runs, per run of 100 pids and per pid; and the first parse.

#include "BenchTiming.h"
#include "SystemRunningApplications.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

#include <unistd.h>

namespace {

bool write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main()
{
    constexpr int runs = 200;
    constexpr int entryCount = 500;
    constexpr int pidCount = 100;

    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    SystemRunningApplications::Sources sources;
    sources.procRoot = root.filePath(QStringLiteral("proc"));
    sources.dataDirs = QStringList{ root.filePath(QStringLiteral("home")), root.filePath(QStringLiteral("sys")) };
    sources.searchPath = QStringList{ root.filePath(QStringLiteral("bin")) };
    sources.locale = QLocale(QLocale::Korean, QLocale::SouthKorea);
    sources.uid = ::getuid();

    for (int index = 0; index < entryCount; ++index) {
        const QByteArray name = "app" + QByteArray::number(index);
        const QString program = root.filePath(QStringLiteral("bin/") + QString::fromLatin1(name));
        QByteArray entry = "[Desktop Entry]\nType=Application\nName=App " + QByteArray::number(index) + "\nName[ko]=앱 "
            + QByteArray::number(index) + "\nIcon=" + name + "\nExec=" + name + " %U\n";
        if (index % 10 == 0)
            entry += "NoDisplay=true\n";
        const QString folder = index % 5 == 0 ? QStringLiteral("home") : QStringLiteral("sys");
        if (!write(program, "ELF") || !QFile(program).setPermissions(QFile::ReadOwner | QFile::ExeOwner)
            || !write(root.filePath(folder + QStringLiteral("/applications/") + QString::fromLatin1(name)
                          + QStringLiteral(".desktop")),
                entry))
            return 1;
    }
    // Processes: most of them applications, some daemons without an entry.
    for (int pid = 1; pid <= pidCount; ++pid) {
        const QString folder = root.filePath(QStringLiteral("proc/%1/").arg(pid));
        const bool daemon = pid % 4 == 0;
        const QByteArray name = daemon ? "daemon" + QByteArray::number(pid) : "app" + QByteArray::number(pid * 3);
        const QString exe = daemon ? QStringLiteral("/usr/sbin/") + QString::fromLatin1(name)
                                   : root.filePath(QStringLiteral("bin/") + QString::fromLatin1(name));
        if (!write(folder + QStringLiteral("status"),
                "Name:\t" + name + "\nUid:\t" + QByteArray::number(::getuid()) + "\t0\t0\t0\n")
            || !write(folder + QStringLiteral("comm"), name + "\n")
            || !QFile::link(exe, folder + QStringLiteral("exe")))
            return 1;
    }
    // Folders changed within the last second are looked at again on every
    // lookup; measure the steady state.
    QThread::msleep(1100);

    reportTiming("first lookup (parses 500 entries)", 1, [&] {
        SystemRunningApplications applications(sources);
        if (!applications.application(1))
            std::abort();
    });

    SystemRunningApplications applications(sources);
    applications.application(1);
    int regular = 0;
    reportTiming("lookup of 100 pids", runs, [&] {
        for (int pid = 1; pid <= pidCount; ++pid)
            regular += applications.application(pid)->isRegular ? 1 : 0;
    });
    reportTiming(
        "lookup per pid", runs,
        [&] {
            for (int pid = 1; pid <= pidCount; ++pid)
                regular += applications.application(pid)->isRegular ? 1 : 0;
        },
        pidCount, "us");
    std::printf("regular applications per run: %d of %d; entries parsed %llu time(s)\n", regular / (2 * runs), pidCount,
        static_cast<unsigned long long>(applications.scanCount()));
    return applications.scanCount() == 1 ? 0 : 1;
}
