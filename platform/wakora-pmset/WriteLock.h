#pragma once

#include <QString>

// The one change of logind's lid setting at a time: every writer (the
// helper's command, the package's own clean-up) holds this lock from
// reading the drop-in to the end of the reload, so a drop-in is never
// written back over another writer's removal. An flock(2), so a writer
// that dies lets go at once. The file is root's, mode 0600, in a folder
// only root may write to: nobody else can open it and hold it.
class WriteLock
{
public:
    static QString defaultPath() { return QStringLiteral("/run/wakora/pmset.lock"); }

    // Waits for the lock; on failure says why and holds nothing.
    static WriteLock acquire(const QString &path, QString &error);

    WriteLock(WriteLock &&other) noexcept;
    WriteLock &operator=(WriteLock &&) = delete;
    WriteLock(const WriteLock &) = delete;
    WriteLock &operator=(const WriteLock &) = delete;
    ~WriteLock();

    bool held() const { return m_fd >= 0; }

private:
    explicit WriteLock(int fd)
        : m_fd(fd)
    { }

    int m_fd = -1;
};
