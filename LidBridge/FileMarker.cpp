#include "FileMarker.h"

#include "MarkerError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// mkdir -p with default attributes; answers the system's text on failure.
Expected<void, QString> makeDirectories(const QByteArray &directory)
{
    struct stat status = {};
    if (directory.isEmpty() || ::stat(directory.constData(), &status) == 0)
        return {};
    const qsizetype slash = directory.lastIndexOf('/');
    if (slash > 0) {
        if (auto parent = makeDirectories(directory.left(slash)); !parent)
            return parent;
    }
    if (::mkdir(directory.constData(), 0755) != 0 && errno != EEXIST)
        return Unexpected(systemErrorText(errno));
    return {};
}

} // namespace

FileMarker::FileMarker(QString path, uid_t ownerID)
    : m_path(std::move(path))
    , m_ownerID(ownerID)
{ }

bool FileMarker::exists() const
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(m_path).constData(), &status) != 0)
        return false;
    return S_ISREG(status.st_mode) && status.st_uid == m_ownerID;
}

Expected<void, QString> FileMarker::create()
{
    const QByteArray directory = QFile::encodeName(QFileInfo(m_path).path());
    if (auto made = makeDirectories(directory); !made)
        return made;

    // Checked every time: a directory others can write to, or that was swapped
    // for a link, would let them plant or remove the marker.
    struct stat status = {};
    if (::lstat(directory.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != m_ownerID
        || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Unexpected(MarkerError::unsafeDirectory());

    const int fd
        = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return Unexpected(MarkerError::cannotCreate(errno));
    ::close(fd);
    return {};
}

Expected<void, QString> FileMarker::remove()
{
    if (::unlink(QFile::encodeName(m_path).constData()) != 0)
        return Unexpected(MarkerError::cannotRemove(errno));
    return {};
}
