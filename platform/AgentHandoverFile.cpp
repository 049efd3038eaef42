#include "AgentHandoverFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// Whether the open file is one we wrote for ourselves: a regular file of
// our user that no one else may read or write.
std::optional<QString> untrusted(const struct stat &status)
{
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("not a regular file");
    if (status.st_uid != ::geteuid())
        return QStringLiteral("owned by uid %1").arg(status.st_uid);
    if ((status.st_mode & 077) != 0)
        return QStringLiteral("open to others (mode %1)").arg(status.st_mode & 0777, 0, 8);
    return std::nullopt;
}

} // namespace

AgentHandoverFile::AgentHandoverFile(QString path)
    : m_path(std::move(path))
{ }

QString AgentHandoverFile::defaultPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo(runtime).isDir())
        return QString();
    return runtime + QStringLiteral("/wakora-agent-handover.json");
}

Expected<void, QString> AgentHandoverFile::write(const AgentHandoverState &state) const
{
    if (m_path.isEmpty())
        return Unexpected(QStringLiteral("no runtime folder ($XDG_RUNTIME_DIR) to hand over through"));
    const QByteArray temporary = QFile::encodeName(m_path) + ".new-" + QByteArray::number(::getpid());
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Unexpected(systemError("cannot create the hand-over file"));
    // The umask only narrows the mode; 0600 is set whatever it is.
    const QByteArray json = state.toJson();
    bool written = ::fchmod(fd, 0600) == 0;
    for (qsizetype done = 0; written && done < json.size();) {
        const ssize_t count = ::write(fd, json.constData() + done, size_t(json.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        written = count > 0;
        done += count > 0 ? count : 0;
    }
    written = written && ::fsync(fd) == 0;
    const QString failure = written ? QString() : systemError("cannot write the hand-over file");
    ::close(fd);
    if (!written || ::rename(temporary.constData(), QFile::encodeName(m_path).constData()) != 0) {
        const QString why = written ? systemError("cannot put the hand-over file in place") : failure;
        ::unlink(temporary.constData());
        return Unexpected(why);
    }
    return {};
}

std::optional<AgentHandoverState> AgentHandoverFile::take(QString *why) const
{
    const auto refuse = [why](const QString &reason) -> std::optional<AgentHandoverState> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (why)
        why->clear();
    if (m_path.isEmpty())
        return std::nullopt;
    const QByteArray path = QFile::encodeName(m_path);
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? std::nullopt : refuse(systemError("cannot open the hand-over file"));
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        ::close(fd);
        return refuse(systemError("cannot read the hand-over file"));
    }
    // Another user's file, or one open to others, is not ours to read or remove.
    if (const auto reason = untrusted(status)) {
        ::close(fd);
        return refuse(QStringLiteral("ignored the hand-over file: %1").arg(*reason));
    }
    QFile file;
    const bool read = file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray json = read ? file.read(64 * 1024) : QByteArray();
    file.close();
    if (!read)
        ::close(fd);

    // Whoever removes it takes it: two agents never both resume one state.
    if (::unlink(path.constData()) != 0)
        return refuse(systemError("the hand-over file was taken by another agent"));
    const QDateTime written = QDateTime::fromSecsSinceEpoch(status.st_mtim.tv_sec);
    const qint64 age = written.secsTo(QDateTime::currentDateTimeUtc());
    // A file written in the future by more than a moment is as untrustworthy as an old one.
    if (age > freshness.count() || age < -5)
        return refuse(QStringLiteral("ignored a stale hand-over file (written %1 s ago)").arg(age));
    const auto state = AgentHandoverState::fromJson(json);
    if (!state)
        return refuse(QStringLiteral("ignored an unreadable hand-over file"));
    return state;
}

void AgentHandoverFile::discard() const
{
    if (m_path.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(m_path);
    struct stat status = {};
    if (::lstat(path.constData(), &status) == 0 && !untrusted(status))
        ::unlink(path.constData());
}
