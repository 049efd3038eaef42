#include "SystemRunningApplications.h"

#include "ApplicationUnitName.h"
#include "DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The kernel keeps only this much of a program's file name as its comm.
constexpr qsizetype commLength = 15;
// Folders are followed this deep below applications/.
constexpr int maximumDepth = 8;
// A folder whose modification time lies this close to (or after) our scan
// may have changed again within the file system's timestamp granularity, so
// it is looked at again on the next lookup.
constexpr qint64 racyWindowNSecs = 1'000'000'000;

// Programs that run something else: their path says nothing about which
// application a process is, so entries are never matched through them.
bool isLauncher(const QString &fileName)
{
    static const QSet<QString> launchers{
        QStringLiteral("sh"),
        QStringLiteral("bash"),
        QStringLiteral("dash"),
        QStringLiteral("zsh"),
        QStringLiteral("env"),
        QStringLiteral("python"),
        QStringLiteral("python3"),
        QStringLiteral("perl"),
        QStringLiteral("ruby"),
        QStringLiteral("node"),
        QStringLiteral("java"),
        QStringLiteral("gjs"),
        QStringLiteral("flatpak"),
        QStringLiteral("snap"),
        QStringLiteral("sudo"),
        QStringLiteral("pkexec"),
        QStringLiteral("xdg-open"),
        QStringLiteral("gtk-launch"),
        QStringLiteral("kioclient5"),
    };
    return launchers.contains(fileName) || fileName.startsWith(u"python3.");
}

qint64 modificationTime(const QString &path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return -1;
    return qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

qint64 wallClockNSecs()
{
    struct timespec now {
    };
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Reads a small /proc file whole; empty on any failure.
QByteArray readSmallFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::array<char, 4096> buffer;
    QByteArray contents;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got <= 0)
            break;
        contents.append(buffer.data(), got);
        if (contents.size() >= 64 * 1024)
            break;
    }
    ::close(fd);
    return contents;
}

std::optional<uid_t> realUid(const QByteArray &status)
{
    const qsizetype at = status.startsWith("Uid:") ? 0 : status.indexOf("\nUid:");
    if (at < 0)
        return std::nullopt;
    const qsizetype start = status.indexOf(':', at) + 1;
    qsizetype end = start;
    while (end < status.size() && (status.at(end) == '\t' || status.at(end) == ' '))
        ++end;
    const qsizetype digits = end;
    while (end < status.size() && status.at(end) >= '0' && status.at(end) <= '9')
        ++end;
    bool ok = false;
    const qulonglong uid = status.mid(digits, end - digits).toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return uid_t(uid);
}

QString readExecutable(const QByteArray &path)
{
    std::array<char, 4096> buffer;
    const ssize_t length = ::readlink(path.constData(), buffer.data(), buffer.size());
    if (length <= 0 || size_t(length) >= buffer.size())
        return {};
    QString target = QFile::decodeName(QByteArray(buffer.data(), length));
    // A program replaced on disk (an upgrade) while it runs.
    static const QString deleted = QStringLiteral(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return target;
}

// The app id an exported Flatpak entry runs: "flatpak run --branch=stable
// org.gnome.Maps" (or "org.gnome.Maps//stable"); empty for any other entry.
QString flatpakRunId(const DesktopEntry &entry)
{
    if (!entry.flatpak.isEmpty())
        return entry.flatpak;
    const QStringList arguments = DesktopEntry::execArguments(entry.exec);
    const qsizetype program = arguments.indexOf(entry.program());
    if (program < 0 || QFileInfo(entry.program()).fileName() != u"flatpak")
        return {};
    const qsizetype run = arguments.indexOf(QStringLiteral("run"), program + 1);
    if (run < 0)
        return {};
    for (qsizetype index = run + 1; index < arguments.size(); ++index) {
        if (!arguments.at(index).startsWith(u'-'))
            return arguments.at(index).section(u'/', 0, 0);
    }
    return {};
}

// The name in the [Application] group of a sandbox's /.flatpak-info.
QString flatpakInfoName(const QByteArray &info)
{
    bool inApplication = false;
    for (const QByteArray &rawLine : info.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('['))
            inApplication = line == "[Application]";
        else if (inApplication && line.startsWith("name="))
            return QString::fromUtf8(line.mid(5).trimmed());
    }
    return {};
}

} // namespace

SystemRunningApplications::Sources SystemRunningApplications::systemSources()
{
    Sources sources;
    sources.procRoot = QStringLiteral("/proc");
    sources.dataDirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    sources.searchPath = QString::fromLocal8Bit(qgetenv("PATH")).split(u':', Qt::SkipEmptyParts);
    sources.locale = QLocale();
    sources.uid = ::getuid();
    return sources;
}

SystemRunningApplications::SystemRunningApplications()
    : SystemRunningApplications(systemSources())
{ }

SystemRunningApplications::SystemRunningApplications(Sources sources)
    : m_sources(std::move(sources))
{ }

std::optional<SystemRunningApplications::Process> SystemRunningApplications::process(qint32 pid) const
{
    if (pid <= 0)
        return std::nullopt;
    const QByteArray base = QFile::encodeName(m_sources.procRoot) + '/' + QByteArray::number(pid) + '/';
    const auto uid = realUid(readSmallFile(base + "status"));
    if (!uid || *uid != m_sources.uid)
        return std::nullopt;
    return Process{ readExecutable(base + "exe"), QString::fromUtf8(readSmallFile(base + "comm")).trimmed() };
}

// Flatpak's bwrap, the helpers beside it and the programs in the sandbox
// (whose paths, such as /app/bin/maps, mean nothing here) all run in the
// app's unit, app-flatpak-<app id>-<N>.scope. Without a user manager there
// is no unit, but a sandboxed process still sees the app id in /.flatpak-info.
QString SystemRunningApplications::flatpakAppOf(qint32 pid) const
{
    const QByteArray base = QFile::encodeName(m_sources.procRoot) + '/' + QByteArray::number(pid) + '/';
    // "0::/user.slice/…/app.slice/app-flatpak-org.gnome.Maps-4242.scope", one line per hierarchy.
    for (const QByteArray &line : readSmallFile(base + "cgroup").split('\n')) {
        const QList<QByteArray> components = line.mid(line.indexOf(':', line.indexOf(':') + 1) + 1).split('/');
        for (auto component = components.crbegin(); component != components.crend(); ++component) {
            if (const auto id = ApplicationUnitName::flatpakAppId(QString::fromUtf8(*component)))
                return *id;
        }
    }
    return flatpakInfoName(readSmallFile(base + "root/.flatpak-info"));
}

int SystemRunningApplications::entryOf(const Process &process) const
{
    int found = -1;
    if (!process.executable.isEmpty())
        found = m_byExecutable.value(process.executable, -1);
    // Scripts run under their interpreter but keep their own name as comm.
    if (found < 0 && !process.processName.isEmpty())
        found = m_byProcessName.value(process.processName, -1);
    return found;
}

bool SystemRunningApplications::runs(const Process &process, int entry) const
{
    // Its own programs, also when an entry of higher precedence shares them;
    // by comm only for a process whose executable no entry knows.
    const Entry &candidate = m_entries.at(entry);
    if (!process.executable.isEmpty() && candidate.executables.contains(process.executable))
        return true;
    return !process.processName.isEmpty() && !m_byExecutable.contains(process.executable)
        && candidate.processNames.contains(process.processName);
}

std::optional<RunningApplication> SystemRunningApplications::application(qint32 pid)
{
    const auto facts = process(pid);
    if (!facts)
        return std::nullopt;
    refreshIfChanged();
    int found = -1;
    if (!m_byFlatpakId.isEmpty())
        found = m_byFlatpakId.value(flatpakAppOf(pid), -1);
    if (found < 0)
        found = entryOf(*facts);

    RunningApplication application;
    application.pid = pid;
    if (found >= 0) {
        const Entry &entry = m_entries.at(found);
        application.isRegular = true;
        if (!entry.name.isEmpty())
            application.localizedName = entry.name;
        application.iconName = entry.icon;
    } else if (!facts->processName.isEmpty()) {
        application.localizedName = facts->processName;
    }
    return application;
}

std::optional<DesktopApplication> SystemRunningApplications::desktopApplication(const QString &idOrName)
{
    QString key = idOrName.trimmed();
    if (key.endsWith(u".desktop"))
        key.chop(8);
    if (key.isEmpty())
        return std::nullopt;
    refreshIfChanged();
    const QString folded = key.toCaseFolded();
    int found = m_byId.value(key, -1);
    if (found < 0)
        found = m_byFoldedId.value(folded, -1);
    if (found < 0)
        found = m_byFoldedName.value(folded, -1);
    if (found < 0)
        found = m_byFoldedWMClass.value(folded, -1);
    const QString program = QFileInfo(key).fileName().toCaseFolded();
    // Launchers were never indexed, so "sh" or "python3" finds nothing.
    if (found < 0 && !program.isEmpty())
        found = m_byFoldedProgram.value(program, -1);
    if (found < 0 && !program.isEmpty())
        found = entryByLeadingWord(program);
    if (found < 0)
        return std::nullopt;
    const Entry &entry = m_entries.at(found);
    return DesktopApplication{ entry.id, entry.name, entry.icon };
}

// Applications give their short name where the entry carries a longer one:
// Firefox ESR says "Firefox" (or "firefox") of firefox-esr.desktop. A name
// that is the first word of an entry's id, name, window class or program
// ("firefox" of "firefox-esr", "Firefox" of "Firefox ESR") finds it, but
// only when no other entry answers the same way.
int SystemRunningApplications::entryByLeadingWord(const QString &folded) const
{
    static constexpr qsizetype shortestWord = 3;
    if (folded.size() < shortestWord)
        return -1;
    int found = -1;
    for (int index = 0; index < m_entries.size(); ++index) {
        const QStringList &keys = m_entries.at(index).foldedKeys;
        const bool leads = std::any_of(keys.cbegin(), keys.cend(), [&folded](const QString &key) {
            return key.size() > folded.size() && key.startsWith(folded)
                && QStringView(u" -_.").contains(key.at(folded.size()));
        });
        if (!leads)
            continue;
        if (found >= 0)
            return -1; // two applications share the word: neither is meant for sure
        found = index;
    }
    return found;
}

QList<qint32> SystemRunningApplications::processIds(const QString &desktopEntryId)
{
    refreshIfChanged();
    const int wanted = m_byId.value(desktopEntryId, -1);
    if (wanted < 0)
        return {};
    const QString flatpakId = m_entries.at(wanted).flatpakId;
    QList<qint32> pids;
    const QStringList names = QDir(m_sources.procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool numeric = false;
        const qint32 pid = name.toInt(&numeric);
        if (!numeric || pid <= 0)
            continue;
        // Gone since the listing, or another user's.
        const auto facts = process(pid);
        if (facts && (runs(*facts, wanted) || (!flatpakId.isEmpty() && flatpakAppOf(pid) == flatpakId)))
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

bool SystemRunningApplications::runsInTerminal(const QString &desktopEntryId)
{
    refreshIfChanged();
    const int entry = m_byId.value(desktopEntryId, -1);
    return entry >= 0 && m_entries.at(entry).terminal;
}

void SystemRunningApplications::refreshIfChanged()
{
    if (m_scanCount == 0 || foldersChanged())
        scan();
}

bool SystemRunningApplications::foldersChanged() const
{
    for (auto folder = m_folderStamps.cbegin(); folder != m_folderStamps.cend(); ++folder) {
        if (folder.value() >= m_scannedAt - racyWindowNSecs)
            return true;
        if (modificationTime(folder.key()) != folder.value())
            return true;
    }
    return false;
}

void SystemRunningApplications::scan()
{
    m_entries.clear();
    m_byExecutable.clear();
    m_byProcessName.clear();
    m_byId.clear();
    m_byFoldedId.clear();
    m_byFoldedName.clear();
    m_byFoldedProgram.clear();
    m_byFoldedWMClass.clear();
    m_byFlatpakId.clear();
    m_folderStamps.clear();
    m_scannedAt = wallClockNSecs();
    ++m_scanCount;

    // Earlier data folders take precedence: the first entry of a desktop file
    // id hides every later one, also when it is hidden itself.
    QSet<QString> ids;
    for (const QString &dataDir : std::as_const(m_sources.dataDirs))
        scanFolder(dataDir + QStringLiteral("/applications"), QString(), 0, ids);
}

void SystemRunningApplications::scanFolder(
    const QString &folder, const QString &idPrefix, int depth, QSet<QString> &ids)
{
    if (m_folderStamps.contains(folder))
        return; // the same folder listed twice in XDG_DATA_DIRS
    m_folderStamps.insert(folder, modificationTime(folder));
    const QDir dir(folder);
    if (!dir.exists())
        return;

    const QFileInfoList files = dir.entryInfoList({ QStringLiteral("*.desktop") }, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        const QString id = idPrefix + file.fileName();
        if (ids.contains(id))
            continue;
        ids.insert(id);
        QFile input(file.filePath());
        if (!input.open(QIODevice::ReadOnly) || input.size() > 1024 * 1024)
            continue;
        const auto entry = DesktopEntry::parse(input.readAll());
        if (!entry || !entry->isVisibleApplication())
            continue;
        const int index = int(m_entries.size());
        const QString plainId = id.chopped(8); // ".desktop"
        const QString name = entry->localizedName(m_sources.locale);
        m_entries.append(Entry{ plainId, name, entry->icon, {}, {}, {}, flatpakRunId(*entry), entry->terminal });
        m_byId.insert(plainId, index);
        if (const QString &app = m_entries.at(index).flatpakId; !app.isEmpty() && !m_byFlatpakId.contains(app))
            m_byFlatpakId.insert(app, index);
        if (const QString folded = plainId.toCaseFolded(); !m_byFoldedId.contains(folded))
            m_byFoldedId.insert(folded, index);
        for (const QString &key : { entry->name.toCaseFolded(), name.toCaseFolded() })
            if (!key.isEmpty() && !m_byFoldedName.contains(key))
                m_byFoldedName.insert(key, index);
        const QString windowClass = entry->startupWMClass.toCaseFolded();
        if (!windowClass.isEmpty() && !m_byFoldedWMClass.contains(windowClass))
            m_byFoldedWMClass.insert(windowClass, index);
        m_entries[index].foldedKeys
            = QStringList{ plainId.toCaseFolded(), entry->name.toCaseFolded(), name.toCaseFolded(), windowClass };
        this->index(entry->program(), index);
        this->index(entry->tryExec, index);
    }

    if (depth >= maximumDepth)
        return;
    const QFileInfoList subfolders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &subfolder : subfolders)
        scanFolder(subfolder.filePath(), idPrefix + subfolder.fileName() + u'-', depth + 1, ids);
}

void SystemRunningApplications::index(const QString &program, int entry)
{
    if (program.isEmpty())
        return;
    const QString fileName = QFileInfo(program).fileName();
    if (fileName.isEmpty() || isLauncher(fileName))
        return;
    // The first (highest-precedence) entry of a program names it.
    const QString processName = fileName.left(commLength);
    m_entries[entry].processNames.insert(processName);
    if (!m_byProcessName.contains(processName))
        m_byProcessName.insert(processName, entry);
    const QString folded = fileName.toCaseFolded();
    if (!m_byFoldedProgram.contains(folded))
        m_byFoldedProgram.insert(folded, entry);
    m_entries[entry].foldedKeys.append(folded);
    const QString path = resolveProgram(program);
    if (path.isEmpty())
        return;
    for (const QString &key : { QDir::cleanPath(path), QFileInfo(path).canonicalFilePath() }) {
        if (key.isEmpty())
            continue;
        m_entries[entry].executables.insert(key);
        if (!m_byExecutable.contains(key))
            m_byExecutable.insert(key, entry);
    }
}

QString SystemRunningApplications::resolveProgram(const QString &program) const
{
    if (program.startsWith(u'/'))
        return program;
    if (program.contains(u'/'))
        return {}; // a relative path means nothing in an entry
    for (const QString &folder : m_sources.searchPath) {
        const QString candidate = folder + u'/' + program;
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return {};
}
