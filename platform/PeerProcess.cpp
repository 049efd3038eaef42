#include "PeerProcess.h"

#include <QCoroDBusPendingCall>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct Credentials {
    qint32 pid = -1;
    qint64 uid = -1;
};

QCoro::Task<Expected<Credentials, QString>> credentialsOf(QDBusConnection bus, QString busName)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("GetConnectionCredentials"));
    call << busName;
    QDBusPendingCall pending = bus.asyncCall(call);
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        co_return Unexpected(
            QStringLiteral("cannot read the credentials of %1: %2").arg(busName, reply.errorMessage()));
    const QVariantMap credentials = qdbus_cast<QVariantMap>(reply.arguments().first());
    Credentials result;
    bool pidOk = false;
    bool uidOk = false;
    result.pid = credentials.value(QStringLiteral("ProcessID")).toInt(&pidOk);
    result.uid = credentials.value(QStringLiteral("UnixUserID")).toLongLong(&uidOk);
    if (!pidOk || !uidOk || result.pid <= 0 || result.uid < 0)
        co_return Unexpected(QStringLiteral("the bus does not know the process of %1").arg(busName));
    co_return result;
}

class PidFd
{
public:
    explicit PidFd(qint32 pid)
        : m_fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)))
    { }
    ~PidFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PidFd(const PidFd &) = delete;
    PidFd &operator=(const PidFd &) = delete;

    bool isValid() const { return m_fd >= 0; }
    // A pidfd becomes readable once its process has exited.
    bool isAlive() const
    {
        pollfd entry{ m_fd, POLLIN, 0 };
        return ::poll(&entry, 1, 0) == 0;
    }

private:
    int m_fd;
};

} // namespace

bool PeerProcess::runs(const QStringList &allowed) const
{
    const QString own = QDir::cleanPath(executable);
    for (const QString &path : allowed) {
        if (QDir::cleanPath(path) == own)
            return true;
    }
    return false;
}

QCoro::Task<Expected<PeerProcess, QString>> identifyPeer(QDBusConnection bus, QString busName)
{
    const auto first = co_await credentialsOf(bus, busName);
    if (!first)
        co_return Unexpected(first.error());
    const qint32 pid = first.value().pid;

    const PidFd pinned(pid);
    if (!pinned.isValid())
        co_return Unexpected(
            QStringLiteral("cannot pin process %1: %2").arg(pid).arg(QString::fromLocal8Bit(strerror(errno))));

    QString executable = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    if (executable.isEmpty())
        co_return Unexpected(QStringLiteral("cannot read the executable of process %1").arg(pid));
    // An executable replaced by an upgrade still names its installed path.
    const QString deleted = QStringLiteral(" (deleted)");
    if (executable.endsWith(deleted))
        executable.chop(deleted.size());

    const auto second = co_await credentialsOf(bus, busName);
    if (!second || second.value().pid != pid || !pinned.isAlive())
        co_return Unexpected(QStringLiteral("process %1 went away while it was checked").arg(pid));

    PeerProcess peer;
    peer.pid = pid;
    peer.uid = static_cast<uid_t>(first.value().uid);
    peer.executable = executable;
    co_return peer;
}

QString peerRefusal(const QString &busName, const QString &why)
{
    return QStringLiteral("%1 is not admitted: %2").arg(busName, why);
}
