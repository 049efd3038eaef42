#pragma once

#include "RunningApplicationReading.h"

#include <QHash>
#include <QList>
#include <QLocale>
#include <QSet>
#include <QStringList>

#include <sys/types.h>

// Processes from /proc (exe, comm, uid) matched to the desktop entries under
// the XDG data folders. Entries are parsed once and parsed again only when an
// applications folder (or one below it) changes. Main thread only.
class SystemRunningApplications : public RunningApplicationReading
{
public:
    struct Sources {
        QString procRoot; // "/proc"
        QStringList dataDirs; // XDG_DATA_HOME first, then XDG_DATA_DIRS
        QStringList searchPath; // where Exec's bare program names are looked up: PATH
        QLocale locale; // the user's
        uid_t uid = 0; // the user's: other users' processes are not our applications
    };

    // The real /proc, XDG folders, PATH, locale and uid of this process.
    static Sources systemSources();

    SystemRunningApplications();
    explicit SystemRunningApplications(Sources sources);

    std::optional<RunningApplication> application(qint32 pid) override;
    std::optional<DesktopApplication> desktopApplication(const QString &idOrName) override;
    // Also the processes of a Flatpak application's sandbox, which run
    // programs no entry names: found by the app id of their unit or sandbox.
    QList<qint32> processIds(const QString &desktopEntryId) override;
    bool runsInTerminal(const QString &desktopEntryId) override;

    // How often the entries have been parsed (once, plus once per change).
    quint64 scanCount() const { return m_scanCount; }

private:
    struct Entry {
        QString id; // desktop file id without ".desktop"
        QString name; // localized
        QString icon;
        QSet<QString> executables; // every path its programs resolve to
        QSet<QString> processNames; // its programs' file names as comm shows them
        QStringList foldedKeys; // id, names, window class and program file names, case-folded
        QString flatpakId; // the app id a Flatpak application's entry runs, else empty
        bool terminal = false;
    };

    // What /proc tells of one process of this user.
    struct Process {
        QString executable;
        QString processName;
    };

    std::optional<Process> process(qint32 pid) const;
    QString flatpakAppOf(qint32 pid) const;
    int entryOf(const Process &process) const;
    bool runs(const Process &process, int entry) const;
    void refreshIfChanged();
    bool foldersChanged() const;
    void scan();
    void scanFolder(const QString &folder, const QString &idPrefix, int depth, QSet<QString> &ids);
    void index(const QString &program, int entry);
    QString resolveProgram(const QString &program) const;
    int entryByLeadingWord(const QString &folded) const;

    Sources m_sources;
    QList<Entry> m_entries;
    QHash<QString, int> m_byExecutable; // executable path -> entry
    QHash<QString, int> m_byProcessName; // program file name as comm shows it -> entry
    QHash<QString, int> m_byId; // desktop file id -> entry
    QHash<QString, int> m_byFoldedId; // case-folded id -> entry
    QHash<QString, int> m_byFoldedName; // case-folded Name, plain or localized -> entry
    QHash<QString, int> m_byFoldedProgram; // case-folded program file name -> entry
    QHash<QString, int> m_byFoldedWMClass; // case-folded StartupWMClass -> entry
    QHash<QString, int> m_byFlatpakId; // Flatpak app id -> entry
    QHash<QString, qint64> m_folderStamps; // folder -> mtime in ns, -1 when missing
    qint64 m_scannedAt = 0; // wall clock in ns, comparable with mtimes
    quint64 m_scanCount = 0;
};
