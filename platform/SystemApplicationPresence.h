#pragma once

#include "ApplicationPresence.h"
#include "RunningApplicationReading.h"

#include <QHash>
#include <QTimer>

#include <chrono>
#include <map>
#include <memory>

#include <sys/types.h>

class QSocketNotifier;

// Learns of an application's starts and ends from events:
//
// - Scopes: desktops (GNOME, Plasma, Flatpak, systemd's autostart) start each
//   application in a unit of the user's service manager whose name carries
//   the desktop entry id (see ApplicationUnitName). inotify on the slices of
//   the user manager's cgroup tells when such a unit's cgroup appears or goes,
//   and on its cgroup.events when it empties while lingering.
// - Processes: where there is no such tree, for entries started inside a
//   terminal (Terminal=true: the terminal's unit holds them), and for an
//   application found running outside any unit of its own (started from a
//   shell), /proc is read through RunningApplicationReading::processIds().
//   The found processes' ends are learned through pidfds.
//
// /proc is looked at: once in watch(); when the last unit of the application
// ends; when the last process found in /proc ends; and, in processes mode
// only, every lookInterval while the application is not running. With no id
// watched nothing is open and no timer runs. Main thread only.
class SystemApplicationPresence : public ApplicationPresence
{
    Q_OBJECT

public:
    struct Options {
        // The user manager's cgroup (…/user@UID.service) whose slices hold
        // the desktop's application units; empty when there is none.
        QString cgroupRoot = systemUserManagerCgroup();
        // How often /proc is read while waiting for a start in processes mode.
        std::chrono::milliseconds lookInterval{ 2'000 };
    };

    // The user manager's cgroup found from /proc/self, and a look every 2 s
    // where /proc is waited on.
    explicit SystemApplicationPresence(
        std::shared_ptr<RunningApplicationReading> applications, QObject *parent = nullptr);
    SystemApplicationPresence(
        std::shared_ptr<RunningApplicationReading> applications, Options options, QObject *parent = nullptr);
    ~SystemApplicationPresence() override;

    void watch(const QString &desktopEntryId) override;
    QString watched() const override { return m_id; }
    bool isRunning() const override { return m_running; }
    QString method() const override;

    // Nothing open, nothing armed: no inotify, no pidfd, no timer.
    bool isIdle() const;
    // How many processes found in /proc are followed by a pidfd.
    int followedProcessCount() const { return int(m_processes.size()); }

    // The cgroup of this user's service manager under the unified hierarchy:
    // the user@UID.service ancestor of our own cgroup (the "0::" line of
    // /proc/self/cgroup) below the cgroup2 mount that mountinfo names. Empty
    // when we run outside it (a bare logind session, a container) or there is
    // no unified hierarchy.
    static QString userManagerCgroup(const QByteArray &ownCgroup, const QByteArray &mountInfo, uid_t uid);
    // The same for this process, read from /proc/self.
    static QString systemUserManagerCgroup();

private:
    class FollowedProcess;
    struct Unit {
        int eventsWatch = -1; // on its cgroup.events, -1 when that cannot be watched
        bool populated = true;
    };

    bool startScopes();
    void stopScopes();
    void stop();
    bool watchSlice(const QString &path);
    void appeared(const QString &parent, const QString &name);
    void disappeared(const QString &path);
    void inotifyReadable();
    void rescanScopes();
    bool scopesRun() const;
    void lookAtProcesses();
    void processEnded(qint32 pid);
    void lookTimeout();
    void settle(bool emitChange);

    std::shared_ptr<RunningApplicationReading> m_applications;
    Options m_options;
    QString m_id;
    bool m_useScopes = false; // whether the user manager's tree is watched
    bool m_running = false;
    bool m_scopesRan = false; // whether a unit of the application ran at the last settle

    int m_inotify = -1;
    QSocketNotifier *m_inotifyNotifier = nullptr;
    QHash<int, QString> m_sliceWatches; // watch -> slice path
    QHash<QString, Unit> m_units; // path -> a unit of the watched application
    QHash<int, QString> m_eventsWatches; // watch on cgroup.events -> unit path

    std::map<qint32, std::unique_ptr<FollowedProcess>> m_processes;
    bool m_processesUnfollowed = false; // found but without a pidfd (kernel before 5.3)
    QTimer m_lookTimer;
};
