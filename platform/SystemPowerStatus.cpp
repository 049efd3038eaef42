#include "SystemPowerStatus.h"

#include "DBusStatus.h"
#include "InhibitServices.h"
#include "PmsetCommand.h"
#include "PmsetParser.h"
#include "ProgramLocations.h"

#include <QCoroDBusPendingCall>
#include <QCoroProcess>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QProcess>

#include <algorithm>
#include <coroutine>

SystemPowerStatus::SystemPowerStatus(QDBusConnection systemBus, QString pmsetPath)
    : m_systemBus(std::move(systemBus))
    , m_pmsetPath(std::move(pmsetPath))
{ }

QString SystemPowerStatus::defaultPmsetPath()
{
    // The command installed beside this program, like the helper's: one
    // prefix's programs never mix with another's.
    return ProgramLocations::ofThisProgram().pmset();
}

QList<ProcessAssertion> SystemPowerStatus::assertionsFrom(const QList<Inhibitor> &inhibitors)
{
    QList<ProcessAssertion> result;
    result.reserve(inhibitors.size());
    for (const Inhibitor &inhibitor : inhibitors) {
        ProcessAssertion assertion;
        // logind keeps pids as unsigned; every real one fits.
        assertion.pid = qint32(inhibitor.pid);
        assertion.type = inhibitor.what;
        assertion.reason = inhibitor.why;
        if (!inhibitor.who.isEmpty())
            assertion.processName = inhibitor.who;
        result.append(std::move(assertion));
    }
    std::stable_sort(result.begin(), result.end(), [](const ProcessAssertion &a, const ProcessAssertion &b) {
        if (a.pid != b.pid)
            return a.pid < b.pid;
        if (a.type != b.type)
            return a.type < b.type;
        return a.reason < b.reason;
    });
    return result;
}

// Reads a(ssssuu); false when the reply has any other shape.
static bool readInhibitors(const QDBusMessage &reply, QList<SystemPowerStatus::Inhibitor> &inhibitors)
{
    if (reply.signature() != u"a(ssssuu)" || reply.arguments().size() != 1)
        return false;
    const QDBusArgument array = reply.arguments().constFirst().value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        SystemPowerStatus::Inhibitor inhibitor;
        array.beginStructure();
        array >> inhibitor.what >> inhibitor.who >> inhibitor.why >> inhibitor.mode >> inhibitor.uid >> inhibitor.pid;
        array.endStructure();
        inhibitors.append(std::move(inhibitor));
    }
    array.endArray();
    return true;
}

QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> SystemPowerStatus::assertions()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::logindService,
        InhibitServices::logindPath, InhibitServices::logindInterface, QStringLiteral("ListInhibitors"));
    // Nothing of `this` is used after the wait, so the reader may go away meanwhile.
    const QDBusPendingCall pending = m_systemBus.asyncCall(call);
    const QDBusMessage reply = co_await pending;
    if (reply.type() == QDBusMessage::ErrorMessage)
        co_return Unexpected(PowerStatusError::assertionQueryFailed(statusForDBusError(reply.errorName())));
    QList<Inhibitor> inhibitors;
    if (reply.type() != QDBusMessage::ReplyMessage || !readInhibitors(reply, inhibitors))
        co_return Unexpected(PowerStatusError::assertionQueryFailed(0));
    co_return assertionsFrom(inhibitors);
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
