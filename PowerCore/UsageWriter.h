#pragma once

#include "Expected.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

// Keeps one file up to date from a thread of its own, so that whoever
// changes the content never waits for the disk.
//
// Changes coalesce: a change waits `coalesceDelay` for more to join it, and
// only the newest content is rendered and written; older ones that were
// never started are dropped. Each write replaces the file atomically (a
// temporary file, synced, renamed over it), so a reader, or a process killed
// at any moment, finds the old content or the new, never a torn or empty
// file.
//
// A failed write is never reported to the submitter: the content stays
// pending and is tried again on the next change or after `retryInterval`,
// whichever comes first. The log notes only when writing starts failing and
// when it works again.
//
// submit() and flush() are for one owning thread; render and write functions
// run on the writer's thread.
class UsageWriter
{
public:
    // Produces the bytes to write. It runs on the writer's thread, later than
    // submit(), so it owns what it reads (a copy of implicitly shared data).
    using Render = std::function<QByteArray()>;
    using Write = std::function<Expected<void, QString>(const QString &path, const QByteArray &bytes)>;

    struct Options {
        // Bursts (a double click, releasing every kind) become one write,
        // and a change still reaches the disk well within a second.
        std::chrono::milliseconds coalesceDelay{ 200 };
        // A full disk or a read-only folder is tried again this often.
        std::chrono::milliseconds retryInterval{ 10'000 };
        Write write = &UsageWriter::writeAtomically;
    };

    // How long flush() and the destructor wait for a write in progress.
    static constexpr std::chrono::milliseconds flushTimeout{ 10'000 };

    explicit UsageWriter(QString path);
    UsageWriter(QString path, Options options);
    // Writes what is pending, trying once more if it failed, then ends the
    // thread. A write still stuck after flushTimeout is left to finish on its
    // own so that the process can end.
    ~UsageWriter();
    UsageWriter(const UsageWriter &) = delete;
    UsageWriter &operator=(const UsageWriter &) = delete;

    // Hands over the newest content. Never blocks on the disk.
    void submit(Render render);
    // Writes what was submitted before this call at once, skipping the
    // coalescing delay (and the retry interval of a failing write), and waits
    // for that attempt. Answers whether the content is on disk; false after a
    // failed attempt or when `timeout` passed first.
    bool flush(std::chrono::milliseconds timeout = flushTimeout);

    // Creates the folder if need be, writes a temporary file beside `path`,
    // syncs it (fdatasync) and renames it over `path`. Every step's failure
    // is reported, and leaves `path` as it was: QSaveFile (Qt 6.4) would
    // commit an empty file when the disk fills while it flushes.
    static Expected<void, QString> writeAtomically(const QString &path, const QByteArray &bytes);

private:
    struct State; // shared with the thread, which may outlive this object
    static void run(const std::shared_ptr<State> &state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};
