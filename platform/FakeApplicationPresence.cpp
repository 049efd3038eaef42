#include "FakeApplicationPresence.h"

void FakeApplicationPresence::watch(const QString &desktopEntryId)
{
    m_watched = desktopEntryId;
}

void FakeApplicationPresence::setRunning(const QString &desktopEntryId, bool running)
{
    const bool before = isRunning();
    if (running)
        m_running.insert(desktopEntryId);
    else
        m_running.remove(desktopEntryId);
    if (desktopEntryId == m_watched && isRunning() != before)
        Q_EMIT runningChanged(isRunning());
}
