#include "FuzzCheck.h"
#include "UsageStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <memory>

#include <pthread.h>

// usage.json as the agent finds it at start: decoded on its own (what it
// decodes must survive its own encoding), then loaded by a store from a file,
// which closes, prunes, summarizes and saves it. A file it cannot use must be
// set aside whole, never lost.

namespace {

struct Fixture {
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("usage.json"));
    // A zone with daylight saving time, so calendar days are 23, 24 or 25 hours.
    QTimeZone zone = QTimeZone("Europe/Berlin").isValid() ? QTimeZone("Europe/Berlin") : QTimeZone::utc();
};

Fixture *fixture = nullptr;

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The store's warnings about files it sets aside would flood the output.
    qputenv("QT_LOGGING_RULES", "com.quorvel.WakoraApp.*.warning=false");
    // Each store starts a writer thread; with the default 8 MiB stacks,
    // AddressSanitizer's bookkeeping of every new stack takes most of the time.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);
    fixture = new Fixture;
    fuzzCheck(fixture->folder.isValid(), "a temporary folder for the history file");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const auto decoded = UsageStore::Contents::fromJson(bytes);
    if (decoded) {
        const auto again = UsageStore::Contents::fromJson(decoded.value().toJson());
        fuzzCheck(again && again.value() == decoded.value(), "a decoded history reads back the same after saving");
    }

    const QString &path = fixture->path;
    const QString aside = UsageStore::asidePath(path);
    QFile::remove(aside);
    fuzzCheck(writeFile(path, bytes), "the history file is written");

    // The clock stands at the file's own last record when it has one, so the
    // history is not pruned away at once and dates far from today are reached.
    const QDateTime now = decoded && decoded.value().lastSeen ? *decoded.value().lastSeen
                                                              : QDateTime(QDate(2024, 3, 31), QTime(1, 30), Qt::UTC);

    auto saved = std::make_shared<QByteArray>();
    UsageWriter::Options writer;
    writer.coalesceDelay = std::chrono::milliseconds(0);
    writer.write = [saved](const QString &, const QByteArray &content) -> Expected<void, QString> {
        *saved = content;
        return {};
    };
    {
        UsageStore store(
            path, [now] { return now; }, fixture->zone, writer);
        for (const UsageStore::Session &session : store.contents().sessions)
            fuzzCheck(session.end.has_value(), "no session is left open after loading");

        // What the agent answers a usage request with.
        const UsageSummary summary = store.summary(7, 5);
        fuzzCheck(summary.days.size() <= 7, "a summary has no more days than asked for");
        fuzzCheck(summary.apps.size() <= 5, "a summary has no more applications than asked for");
        const QByteArray json = summary.toJson();
        if (!json.isEmpty())
            fuzzCheck(UsageSummary::fromJson(json).hasValue(), "a summary's JSON reads back");
        fuzzCheck(store.flush(), "the loaded history is saved");
    }
    fuzzCheck(UsageStore::Contents::fromJson(*saved).hasValue(), "what the store saves, it can load");

    if (decoded)
        fuzzCheck(!QFile::exists(aside), "a usable file is not set aside");
    else
        fuzzCheck(readFile(aside) == bytes, "an unusable file is set aside whole");
    return 0;
}
