#include "WriteLock.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Our folder or nothing: made 0755 when missing, and refused when it is a
// link, not a folder, not ours, or writable by anyone else.
bool safeFolder(const QByteArray &folder, QString &error)
{
    if (::mkdir(folder.constData(), 0755) != 0 && errno != EEXIST) {
        error = QStringLiteral("cannot create %1: %2").arg(QFile::decodeName(folder), systemError(errno));
        return false;
    }
    struct stat status = {};
    if (::lstat(folder.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()
        || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = QStringLiteral("unsafe lock folder %1").arg(QFile::decodeName(folder));
        return false;
    }
    return true;
}

} // namespace

WriteLock WriteLock::acquire(const QString &path, QString &error)
{
    const QByteArray file = QFile::encodeName(path);
    if (!safeFolder(QFile::encodeName(QFileInfo(path).path()), error))
        return WriteLock(-1);
    const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = QStringLiteral("cannot open %1: %2").arg(path, systemError(errno));
        return WriteLock(-1);
    }
    WriteLock lock(fd);
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        error = QStringLiteral("unsafe lock file %1").arg(path);
        return WriteLock(-1);
    }
    int locked;
    do
        locked = ::flock(fd, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        error = QStringLiteral("cannot lock %1: %2").arg(path, systemError(errno));
        return WriteLock(-1);
    }
    return lock;
}

WriteLock::WriteLock(WriteLock &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{ }

WriteLock::~WriteLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
