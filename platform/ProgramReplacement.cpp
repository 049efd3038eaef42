#include "ProgramReplacement.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

Expected<QString, QString> ProgramReplacement::check(const QString &executableLink)
{
    const QByteArray link = QFile::encodeName(executableLink);
    char target[4096];
    const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
    if (length <= 0)
        return Unexpected(QStringLiteral("cannot read %1").arg(executableLink));
    QString path = QFile::decodeName(QByteArray(target, qsizetype(length)));
    const QString deleted = QStringLiteral(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());

    struct stat running = {};
    struct stat installed = {};
    // stat() through the link reaches the running file even once it is unlinked.
    if (::stat(link.constData(), &running) != 0)
        return Unexpected(QStringLiteral("cannot look at the running program"));
    if (::stat(QFile::encodeName(path).constData(), &installed) != 0)
        return Unexpected(QStringLiteral("%1 is gone, not replaced").arg(path));
    if (running.st_dev == installed.st_dev && running.st_ino == installed.st_ino)
        return Unexpected(QStringLiteral("%1 has not been replaced").arg(path));
    if (!QFileInfo(path).isExecutable())
        return Unexpected(QStringLiteral("%1 is not executable").arg(path));
    return path;
}
