#pragma once

#include <QProcess>

// Ends a child program the way a session does: SIGTERM, then SIGKILL once
// `graceMs` have passed. Answers what it printed that was not read yet.
inline QByteArray endProcess(QProcess &process, int graceMs = 5000)
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(graceMs))
            process.kill();
        process.waitForFinished(3000);
    }
    return process.readAll();
}
