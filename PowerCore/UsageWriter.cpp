#include "UsageWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// The store's category: the writer is how the store saves.
Q_LOGGING_CATEGORY(lcUsageWriter, "com.quorvel.WakoraApp.UsageStore")

using SteadyClock = std::chrono::steady_clock;

// What failed and why, from errno: call it before anything that may change errno.
Unexpected<QString> failure(const char *what, int error = errno)
{
    return Unexpected(QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error))));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno != EINTR)
            return false;
        done += std::max<ssize_t>(written, 0);
    }
    return true;
}

// The rename is visible at once; syncing the folder makes it last through a
// power cut too. A folder that cannot be synced still holds a whole file.
void syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// The file being written: closed, and removed if it got a name, unless it
// was renamed over the target.
struct Temporary {
    int fd = -1;
    QByteArray name;

    ~Temporary()
    {
        if (fd >= 0)
            ::close(fd);
        if (!name.isEmpty())
            ::unlink(name.constData());
    }

    // Gives an unnamed file a free name beside the target.
    bool link(const QByteArray &target)
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray candidate = target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, candidate.constData(), AT_SYMLINK_FOLLOW) == 0) {
                name = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    bool close()
    {
        const int closing = std::exchange(fd, -1);
        return ::close(closing) == 0;
    }
};

} // namespace

// Every submit() is one generation; the counters say how far the writer got.
struct UsageWriter::State {
    State(QString path, Options options)
        : path(std::move(path))
        , options(std::move(options))
    { }

    const QString path;
    const Options options;

    std::mutex mutex;
    std::condition_variable wake; // to the writer: new work, a flush, the end
    std::condition_variable settled; // from the writer: an attempt ended, or the thread did
    Render pending; // the newest content not yet taken for writing, or failed
    quint64 submitted = 0;
    quint64 attempted = 0; // newest generation tried, whatever came of it
    quint64 attempts = 0; // how many writes ended, successful or not
    quint64 written = 0; // newest generation on disk
    SteadyClock::time_point due; // when `pending` is to be written
    bool stopping = false;
    bool finished = false;

    bool failing = false; // the writer's thread only
};

UsageWriter::UsageWriter(QString path)
    : UsageWriter(std::move(path), Options{})
{ }

UsageWriter::UsageWriter(QString path, Options options)
    : m_state(std::make_shared<State>(std::move(path), std::move(options)))
    , m_thread(&UsageWriter::run, m_state)
{ }

UsageWriter::~UsageWriter()
{
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->wake.notify_one();
    const bool finished = m_state->settled.wait_for(lock, flushTimeout, [this] { return m_state->finished; });
    lock.unlock();
    // A disk that hangs for this long must not keep the agent from ending;
    // the thread holds its own share of the state and ends when the write does.
    if (finished)
        m_thread.join();
    else
        m_thread.detach();
}

void UsageWriter::submit(Render render)
{
    std::lock_guard lock(m_state->mutex);
    const auto soon = SteadyClock::now() + m_state->options.coalesceDelay;
    // A change already waiting keeps its time, so a steady stream of changes
    // cannot put the write off forever; a failing one waiting for its retry
    // is tried with this change.
    const bool sooner = !m_state->pending || soon < m_state->due;
    if (sooner)
        m_state->due = soon;
    m_state->pending = std::move(render);
    ++m_state->submitted;
    // A writer already waiting for an earlier time takes this content then:
    // a burst of changes wakes its thread once.
    if (sooner)
        m_state->wake.notify_one();
}

bool UsageWriter::flush(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_state->mutex);
    const quint64 target = m_state->submitted;
    if (m_state->written >= target)
        return true;
    // An attempt that failed before this call does not count: a flush tries again.
    const quint64 attemptsBefore = m_state->attempts;
    m_state->due = SteadyClock::now();
    m_state->wake.notify_one();
    m_state->settled.wait_for(lock, timeout,
        [&] { return (m_state->attempted >= target && m_state->attempts > attemptsBefore) || m_state->finished; });
    return m_state->written >= target;
}

// A writer killed between naming its new file and renaming it over the
// target leaves that file beside it ("usage.json.k3x9q1", or
// "usage.json.AbC123" from the named way): the next writer removes it. The
// aside copy of an unreadable history ("usage.json.corrupt") stays.
static void removeLeftovers(const QString &path)
{
    const QFileInfo target(path);
    const QString prefix = target.fileName() + QLatin1Char('.');
    const QStringList names = target.dir().entryList({ prefix + QLatin1Char('*') }, QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        const QString suffix = name.mid(prefix.size());
        const bool ours = !suffix.isEmpty() && suffix.size() <= 13 && suffix != u"corrupt"
            && std::all_of(
                suffix.cbegin(), suffix.cend(), [](QChar c) { return c.isLetterOrNumber() && c.unicode() < 128; });
        if (ours && QFile::remove(target.dir().filePath(name)))
            qCInfo(lcUsageWriter, "Removed %s, left by a writer that did not finish", qUtf8Printable(name));
    }
}

void UsageWriter::run(const std::shared_ptr<State> &state)
{
    removeLeftovers(state->path);
    std::unique_lock lock(state->mutex);
    for (;;) {
        if (!state->pending) {
            if (state->stopping)
                break;
            state->wake.wait(lock);
            continue;
        }
        if (!state->stopping && SteadyClock::now() < state->due) {
            state->wake.wait_until(lock, state->due);
            continue;
        }

        // Taken out, so that a change during this write waits its own
        // coalescing delay instead of following at once.
        Render render = std::exchange(state->pending, nullptr);
        const quint64 generation = state->submitted;
        lock.unlock();
        const QByteArray bytes = render();
        const auto result = state->options.write(state->path, bytes);
        // Only the transitions are logged, so a full disk does not log once a minute.
        if (!result && !state->failing)
            qCWarning(lcUsageWriter, "Cannot save %s: %s", qUtf8Printable(state->path), qUtf8Printable(result.error()));
        else if (result && state->failing)
            qCInfo(lcUsageWriter, "Saving %s works again", qUtf8Printable(state->path));
        state->failing = !result;
        lock.lock();

        state->attempted = generation;
        ++state->attempts;
        if (result) {
            state->written = generation;
        } else if (!state->pending) {
            // Nothing newer came: this content waits for its retry.
            state->pending = std::move(render);
            state->due = SteadyClock::now() + state->options.retryInterval;
            if (state->stopping) {
                state->settled.notify_all();
                break; // tried once more on the way out; nothing else can be done
            }
        }
        state->settled.notify_all();
    }
    state->finished = true;
    state->settled.notify_all();
}

Expected<void, QString> UsageWriter::writeAtomically(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    const QString folderName = info.absolutePath();
    if (!QDir().mkpath(folderName))
        return Unexpected(QStringLiteral("cannot create the folder %1").arg(folderName));
    const QByteArray folder = QFile::encodeName(folderName);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());

    // First an unnamed file (O_TMPFILE), which a process killed before the
    // rename leaves nothing of; where the file system or /proc cannot give it
    // a name, a named temporary file beside the target.
    for (const bool unnamed : { true, false }) {
        Temporary temporary;
        if (unnamed) {
            temporary.fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
            if (temporary.fd < 0)
                continue;
        } else {
            temporary.name = target + ".XXXXXX";
            temporary.fd = ::mkostemp(temporary.name.data(), O_CLOEXEC);
            if (temporary.fd < 0) {
                temporary.name.clear();
                return failure("cannot create a new file in the folder");
            }
        }
        if (!writeAll(temporary.fd, bytes))
            return failure("cannot write the new file");
        if (::fdatasync(temporary.fd) != 0)
            return failure("cannot write the new file");
        if (unnamed && !temporary.link(target))
            continue;
        if (!temporary.close())
            return failure("cannot write the new file");
        if (::rename(temporary.name.constData(), target.constData()) != 0)
            return failure("cannot put the new file in place");
        temporary.name.clear();
        syncFolder(folder);
        return {};
    }
    return Unexpected(QStringLiteral("cannot write the new file")); // not reached: the named way always returns
}
