#include "SystemApplicationPresence.h"

#include "ApplicationUnitName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr uint32_t sliceEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW;

QByteArray readSmall(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return file.read(64 * 1024);
}

// What a cgroup's cgroup.events says of its processes: "populated 0" once the
// last one has exited, which the cgroup may outlive for a moment. Absent when
// the file says nothing of it.
std::optional<bool> populated(const QString &unitPath)
{
    QFile file(unitPath + QStringLiteral("/cgroup.events"));
    if (!file.exists())
        return true; // not a cgroup of its own: its existence is all there is
    const QByteArray events = readSmall(file.fileName());
    for (const QByteArray &line : events.split('\n')) {
        if (line.startsWith("populated "))
            return line.mid(10).trimmed() != "0";
    }
    return std::nullopt;
}

} // namespace

// A process found in /proc, followed through a pidfd, which becomes readable
// once the process has exited.
class SystemApplicationPresence::FollowedProcess
{
public:
    FollowedProcess(int pidfd, qint32 pid, SystemApplicationPresence *owner)
        : m_pidfd(pidfd)
        , m_notifier(new QSocketNotifier(pidfd, QSocketNotifier::Read, owner))
    {
        QObject::connect(m_notifier, &QSocketNotifier::activated, owner, [owner, pid] { owner->processEnded(pid); });
    }
    ~FollowedProcess()
    {
        // Deleted from its own notifier's signal too, so the notifier goes later.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        ::close(m_pidfd);
    }
    FollowedProcess(const FollowedProcess &) = delete;
    FollowedProcess &operator=(const FollowedProcess &) = delete;

private:
    int m_pidfd;
    QSocketNotifier *m_notifier;
};

SystemApplicationPresence::SystemApplicationPresence(
    std::shared_ptr<RunningApplicationReading> applications, QObject *parent)
    : SystemApplicationPresence(std::move(applications), Options{}, parent)
{ }

SystemApplicationPresence::SystemApplicationPresence(
    std::shared_ptr<RunningApplicationReading> applications, Options options, QObject *parent)
    : ApplicationPresence(parent)
    , m_applications(std::move(applications))
    , m_options(std::move(options))
    , m_lookTimer(this)
{
    m_lookTimer.setInterval(m_options.lookInterval);
    connect(&m_lookTimer, &QTimer::timeout, this, &SystemApplicationPresence::lookTimeout);
}

SystemApplicationPresence::~SystemApplicationPresence()
{
    stop();
}

void SystemApplicationPresence::watch(const QString &desktopEntryId)
{
    stop();
    m_id = desktopEntryId;
    m_scopesRan = false;
    if (!m_id.isEmpty()) {
        // Terminal=true: the desktop starts the terminal, whose unit carries
        // the terminal's id, not this entry's.
        m_useScopes = !m_applications->runsInTerminal(m_id) && startScopes();
        m_scopesRan = scopesRun();
        if (!m_scopesRan)
            lookAtProcesses();
    }
    settle(false);
}

QString SystemApplicationPresence::method() const
{
    if (m_id.isEmpty())
        return QStringLiteral("none");
    if (!m_useScopes || (!m_processes.empty() && !scopesRun()))
        return QStringLiteral("processes");
    return QStringLiteral("scopes");
}

bool SystemApplicationPresence::isIdle() const
{
    return m_inotify < 0 && m_processes.empty() && !m_lookTimer.isActive();
}

QString SystemApplicationPresence::userManagerCgroup(
    const QByteArray &ownCgroup, const QByteArray &mountInfo, uid_t uid)
{
    // "0::/user.slice/user-1000.slice/user@1000.service/app.slice/…"
    QByteArray path;
    for (const QByteArray &line : ownCgroup.split('\n')) {
        if (line.startsWith("0::"))
            path = line.mid(3).trimmed();
    }
    const QByteArray manager = "user@" + QByteArray::number(uid) + ".service";
    const QList<QByteArray> components = path.split('/');
    const qsizetype at = components.indexOf(manager);
    if (at < 0)
        return {};
    path = components.mid(0, at + 1).join('/');

    // "36 25 0:31 / /sys/fs/cgroup rw,nosuid shared:9 - cgroup2 cgroup2 rw": the
    // mount's root within the hierarchy, its mount point, and after " - " its type.
    for (const QByteArray &line : mountInfo.split('\n')) {
        const qsizetype separator = line.indexOf(" - ");
        if (separator < 0 || !line.mid(separator + 3).startsWith("cgroup2 "))
            continue;
        const QList<QByteArray> fields = line.left(separator).split(' ');
        if (fields.size() < 5)
            continue;
        const QByteArray &root = fields.at(3);
        const QByteArray mountPoint = fields.at(4);
        if (root == "/")
            return QFile::decodeName(mountPoint + path);
        if (path.startsWith(root + '/'))
            return QFile::decodeName(mountPoint + path.mid(root.size()));
    }
    return {};
}

QString SystemApplicationPresence::systemUserManagerCgroup()
{
    return userManagerCgroup(
        readSmall(QStringLiteral("/proc/self/cgroup")), readSmall(QStringLiteral("/proc/self/mountinfo")), ::getuid());
}

bool SystemApplicationPresence::startScopes()
{
    if (m_options.cgroupRoot.isEmpty() || !QFileInfo(m_options.cgroupRoot).isDir())
        return false;
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0)
        return false;
    if (!watchSlice(QDir::cleanPath(m_options.cgroupRoot))) {
        stopScopes();
        return false;
    }
    m_inotifyNotifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
    connect(m_inotifyNotifier, &QSocketNotifier::activated, this, &SystemApplicationPresence::inotifyReadable);
    return true;
}

void SystemApplicationPresence::stopScopes()
{
    if (m_inotifyNotifier) {
        // Also stopped from its own signal, so it goes later.
        m_inotifyNotifier->setEnabled(false);
        m_inotifyNotifier->deleteLater();
        m_inotifyNotifier = nullptr;
    }
    if (m_inotify >= 0)
        ::close(m_inotify);
    m_inotify = -1;
    m_sliceWatches.clear();
    m_units.clear();
    m_eventsWatches.clear();
}

void SystemApplicationPresence::stop()
{
    stopScopes();
    m_useScopes = false;
    m_processes.clear();
    m_processesUnfollowed = false;
    m_lookTimer.stop();
}

// The watch comes before the listing, so a unit made in between is seen by both
// at worst, never by neither; appeared() takes a unit or slice only once.
bool SystemApplicationPresence::watchSlice(const QString &path)
{
    const int watch = ::inotify_add_watch(m_inotify, QFile::encodeName(path).constData(), sliceEvents);
    if (watch < 0)
        return false;
    m_sliceWatches.insert(watch, path);
    const QStringList children = QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString &name : children)
        appeared(path, name);
    return true;
}

void SystemApplicationPresence::appeared(const QString &parent, const QString &name)
{
    const QString path = parent + u'/' + name;
    if (name.endsWith(u".slice")) {
        for (const QString &watched : std::as_const(m_sliceWatches))
            if (watched == path)
                return;
        watchSlice(path);
        return;
    }
    if (!ApplicationUnitName::runs(name, m_id) || m_units.contains(path))
        return;
    Unit unit;
    const QString events = path + QStringLiteral("/cgroup.events");
    unit.eventsWatch = ::inotify_add_watch(m_inotify, QFile::encodeName(events).constData(), IN_MODIFY);
    if (unit.eventsWatch >= 0)
        m_eventsWatches.insert(unit.eventsWatch, path);
    unit.populated = populated(path).value_or(true);
    m_units.insert(path, unit);
}

void SystemApplicationPresence::disappeared(const QString &path)
{
    const QString below = path + u'/';
    for (auto unit = m_units.begin(); unit != m_units.end();) {
        if (unit.key() == path || unit.key().startsWith(below)) {
            if (unit->eventsWatch >= 0) {
                m_eventsWatches.remove(unit->eventsWatch);
                ::inotify_rm_watch(m_inotify, unit->eventsWatch); // gone with the directory, mostly
            }
            unit = m_units.erase(unit);
        } else {
            ++unit;
        }
    }
    for (auto slice = m_sliceWatches.begin(); slice != m_sliceWatches.end();) {
        if (*slice == path || slice->startsWith(below)) {
            ::inotify_rm_watch(m_inotify, slice.key());
            slice = m_sliceWatches.erase(slice);
        } else {
            ++slice;
        }
    }
}

void SystemApplicationPresence::inotifyReadable()
{
    const QString root = QDir::cleanPath(m_options.cgroupRoot);
    bool lost = false; // events were dropped: look at the whole tree again
    bool rootGone = false;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(m_inotify, buffer, sizeof buffer);
        if (got <= 0)
            break; // EAGAIN: all read
        for (ssize_t offset = 0; offset < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                lost = true;
                continue;
            }
            if (const auto slice = m_sliceWatches.constFind(event->wd); slice != m_sliceWatches.cend()) {
                const QString parent = *slice;
                if (event->mask & IN_IGNORED) {
                    rootGone = rootGone || parent == root;
                    disappeared(parent);
                    continue;
                }
                if (!(event->mask & IN_ISDIR) || event->len == 0)
                    continue;
                const QString name = QFile::decodeName(event->name);
                if (event->mask & (IN_CREATE | IN_MOVED_TO))
                    appeared(parent, name);
                else if (event->mask & (IN_DELETE | IN_MOVED_FROM))
                    disappeared(parent + u'/' + name);
            } else if (const auto unit = m_eventsWatches.constFind(event->wd); unit != m_eventsWatches.cend()) {
                const QString path = *unit;
                if (event->mask & IN_IGNORED) {
                    m_eventsWatches.remove(event->wd);
                    if (m_units.contains(path))
                        m_units[path].eventsWatch = -1;
                } else if (m_units.contains(path)) {
                    m_units[path].populated = populated(path).value_or(m_units[path].populated);
                }
            }
        }
    }
    if (rootGone) {
        // The user manager ended: what is left to go by is /proc.
        stopScopes();
        m_useScopes = false;
    } else if (lost) {
        stopScopes();
        m_useScopes = startScopes();
    }
    settle(true);
}

bool SystemApplicationPresence::scopesRun() const
{
    return std::any_of(m_units.cbegin(), m_units.cend(), [](const Unit &unit) { return unit.populated; });
}

void SystemApplicationPresence::lookAtProcesses()
{
    const QList<qint32> pids = m_applications->processIds(m_id);
    for (const qint32 pid : pids) {
        if (m_processes.contains(pid))
            continue;
        const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
        if (pidfd < 0) {
            if (errno == ESRCH)
                continue; // gone since the listing
            // A kernel before 5.3: the look timer follows it instead.
            m_processes.emplace(pid, nullptr);
            m_processesUnfollowed = true;
            continue;
        }
        // Exited already, waiting to be reaped: /proc still lists it.
        pollfd ended{};
        ended.fd = pidfd;
        ended.events = POLLIN;
        if (::poll(&ended, 1, 0) > 0) {
            ::close(pidfd);
            continue;
        }
        m_processes.emplace(pid, std::make_unique<FollowedProcess>(pidfd, pid, this));
    }
}

void SystemApplicationPresence::processEnded(qint32 pid)
{
    m_processes.erase(pid);
    // The last one: another may have started meanwhile, from the same shell.
    if (m_processes.empty() && !scopesRun())
        lookAtProcesses();
    settle(true);
}

void SystemApplicationPresence::lookTimeout()
{
    if (m_processesUnfollowed) {
        std::erase_if(m_processes, [](const auto &process) { return !process.second; });
        m_processesUnfollowed = false;
    }
    lookAtProcesses();
    settle(true);
}

void SystemApplicationPresence::settle(bool emitChange)
{
    const bool scopes = scopesRun();
    // The last unit ended: the application may still run outside one.
    if (m_scopesRan && !scopes && m_processes.empty())
        lookAtProcesses();
    m_scopesRan = scopes;

    const bool running = scopes || !m_processes.empty();
    const bool look = !m_id.isEmpty() && ((!m_useScopes && !running) || m_processesUnfollowed);
    if (!look)
        m_lookTimer.stop();
    else if (!m_lookTimer.isActive())
        m_lookTimer.start();

    if (running == m_running)
        return;
    m_running = running;
    if (emitChange)
        Q_EMIT runningChanged(running);
}
