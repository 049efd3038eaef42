#include "PmsetSetting.h"

#include "HelperError.h"
#include "PmsetCommand.h"

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

PmsetSetting::PmsetSetting(QString program, QStringList leadingArguments)
    : m_program(std::move(program))
    , m_leadingArguments(std::move(leadingArguments))
{ }

Expected<QString, QString> PmsetSetting::run(const QStringList &arguments) const
{
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::SeparateChannels);
    // The command dies with the thread that runs it (the helper's work
    // thread, which lasts as long as the helper): a change must never go on
    // after its helper is gone, where the next helper's restore would race it.
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127); // the helper died before the line above
        // The command starts with no signal blocked, whatever its parent blocks.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
    });
    process.start(m_program, m_leadingArguments + arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        return Unexpected(process.errorString());
    // No time-out: the command bounds its own waits on logind.
    process.waitForFinished(-1);
    const QByteArray output = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit)
        return Unexpected(HelperError::killed(process.exitCode()));
    if (process.exitCode() != 0)
        return Unexpected(HelperError::exited(process.exitCode()));
    return QString::fromUtf8(output);
}

Expected<bool, QString> PmsetSetting::read()
{
    const auto listing = run(PmsetCommand::readArguments());
    if (!listing)
        return Unexpected(listing.error());
    return PmsetCommand::sleepDisabled(listing.value());
}

Expected<void, QString> PmsetSetting::write(bool disabled)
{
    const auto output = run(PmsetCommand::writeArguments(disabled));
    if (!output)
        return Unexpected(output.error());
    return {};
}
