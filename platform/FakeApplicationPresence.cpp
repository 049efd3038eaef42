#include "FakeApplicationPresence.h"

void FakeApplicationPresence::watch(const QString &desktopEntryId)
{
    m_watched = desktopEntryId;
    ++m_watchCount;
}

QString FakeApplicationPresence::method() const
{
    return m_watched.isEmpty() ? QStringLiteral("none") : m_method;
}

void FakeApplicationPresence::setRunning(bool running)
{
    if (running == m_running)
        return;
    m_running = running;
    Q_EMIT runningChanged(running);
}
