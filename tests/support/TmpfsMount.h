#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

// A small tmpfs mounted over a test's folder, to fill a disk or make it
// read-only for real rather than pretend. Mounting needs CAP_SYS_ADMIN; when
// it is refused, error() says why, for the test's skip.
class TmpfsMount
{
public:
    explicit TmpfsMount(QString where, const QByteArray &options = "size=64k")
        : m_where(std::move(where))
    {
        const QByteArray target = QFile::encodeName(m_where);
        if (::mount("tmpfs", target.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0)
            m_mounted = true;
        else
            m_error = QStringLiteral("cannot mount a tmpfs on %1 (needs CAP_SYS_ADMIN): %2")
                          .arg(m_where, QString::fromLocal8Bit(std::strerror(errno)));
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_where).constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool isMounted() const { return m_mounted; }
    const QString &error() const { return m_error; }

    bool setReadOnly(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", QFile::encodeName(m_where).constData(), "tmpfs", flags, nullptr) == 0;
    }

    // Writes a file until the disk has no room left; removing `path` gives
    // the room back. Answers false when something other than a full disk
    // stopped it.
    static bool fill(const QString &path)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'x');
        int error = 0;
        // A short write takes the last bytes; the next one says why it stopped.
        while (error == 0) {
            if (::write(fd, block.constData(), size_t(block.size())) < 0 && errno != EINTR)
                error = errno;
        }
        ::close(fd);
        return error == ENOSPC;
    }

private:
    QString m_where;
    bool m_mounted = false;
    QString m_error;
};
