#include "SystemPowerStatus.h"

#include "AssertionMerge.h"
#include "DBusStatus.h"
#include "InhibitorLists.h"
#include "MenuBarService.h"
#include "PmsetCommand.h"
#include "PmsetParser.h"
#include "ProgramLocations.h"

#include <QCoroProcess>
#include <QProcess>

#include <coroutine>

SystemPowerStatus::SystemPowerStatus(QDBusConnection systemBus, QDBusConnection sessionBus,
    std::shared_ptr<RunningApplicationReading> applications, QString pmsetPath)
    : m_systemBus(std::move(systemBus))
    , m_sessionBus(std::move(sessionBus))
    , m_applications(std::move(applications))
    , m_pmsetPath(std::move(pmsetPath))
{
    Q_ASSERT(m_applications);
}

QString SystemPowerStatus::defaultPmsetPath()
{
    // The command installed beside this program, like the helper's: one
    // prefix's programs never mix with another's.
    return ProgramLocations::ofThisProgram().pmset();
}

QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> SystemPowerStatus::assertions()
{
    // Copied before the first wait: the reader may go away meanwhile, and
    // nothing of `this` is used after it.
    const QDBusConnection systemBus = m_systemBus;
    const QDBusConnection sessionBus = m_sessionBus;
    const std::shared_ptr<RunningApplicationReading> applications = m_applications;

    // Every list is asked at once (the tasks run up to their first wait as
    // they are made) and awaited in turn.
    auto logindTask = InhibitorLists::readLogind(systemBus);
    auto gnomeTask = InhibitorLists::readGnomeSession(sessionBus);
    auto kdeTask = InhibitorLists::readKde(sessionBus);
    auto xfceTask = InhibitorLists::readXfce(sessionBus);
    auto agentTask = InhibitorLists::ownerPid(sessionBus, MenuBarService::machServiceName());
    const InhibitorLists::LogindAnswer logind = co_await logindTask;
    const auto gnome = co_await gnomeTask;
    const auto kde = co_await kdeTask;
    const auto xfce = co_await xfceTask;
    const std::optional<qint32> agentPid = co_await agentTask;

    const bool desktopAnswered = gnome || kde || xfce;
    if (!logind.answered && !(desktopAnswered && InhibitorLists::meansAbsent(logind.errorName))) {
        // An answer of another shape is no usable answer: status 0.
        const qint32 status = logind.errorName.isEmpty() ? 0 : statusForDBusError(logind.errorName);
        co_return Unexpected(PowerStatusError::assertionQueryFailed(status));
    }

    AssertionMerge::Listings listings;
    listings.logind = logind.inhibitors;
    for (const auto *list : { &gnome, &kde, &xfce })
        if (*list)
            listings.desktop += **list;
    listings.applications = AssertionMerge::resolve(listings.desktop, *applications);
    listings.agentPid = agentPid;
    co_return AssertionMerge::merge(listings);
}

namespace {

// Resumes the awaiting coroutine once the process has started or failed to.
// A failed launch never emits started(), so waiting for that alone could hang;
// and the resumption goes through the event loop, never from inside the
// process's own signal.
class LaunchSettled
{
public:
    explicit LaunchSettled(QProcess &process)
        : m_process(process)
    { }

    bool await_ready() const { return m_process.state() != QProcess::Starting; }

    void await_suspend(std::coroutine_handle<> waiter)
    {
        const auto settle = [this, waiter] {
            QObject::disconnect(m_started);
            QObject::disconnect(m_failed);
            QMetaObject::invokeMethod(
                &m_process, [waiter] { waiter.resume(); }, Qt::QueuedConnection);
        };
        m_started = QObject::connect(&m_process, &QProcess::started, settle);
        m_failed = QObject::connect(&m_process, &QProcess::errorOccurred, settle);
    }

    void await_resume() const { }

private:
    QProcess &m_process;
    QMetaObject::Connection m_started;
    QMetaObject::Connection m_failed;
};

} // namespace

QCoro::Task<Expected<QList<PowerSetting>, PowerStatusError>> SystemPowerStatus::settings()
{
    QProcess process;
    process.setProgram(m_pmsetPath);
    process.setArguments(PmsetCommand::readArguments());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    co_await LaunchSettled(process);
    if (process.error() == QProcess::FailedToStart)
        co_return Unexpected(PowerStatusError::pmsetLaunchFailed(process.errorString()));
    // No time limit, as no caller can tell a slow command from a stuck one.
    if (process.state() != QProcess::NotRunning)
        co_await qCoro(process).waitForFinished(-1);

    if (process.exitStatus() == QProcess::CrashExit) {
        // Killed by a signal: still a failure, never a status of 0.
        const qint32 status = process.exitCode() != 0 ? process.exitCode() : -1;
        co_return Unexpected(PowerStatusError::pmsetFailed(status));
    }
    if (process.exitCode() != 0)
        co_return Unexpected(PowerStatusError::pmsetFailed(process.exitCode()));
    // Invalid UTF-8 sequences become U+FFFD.
    const QString listing = QString::fromUtf8(process.readAllStandardOutput());
    co_return PmsetParser::parse(listing);
}
