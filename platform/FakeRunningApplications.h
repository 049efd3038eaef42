#pragma once

#include "RunningApplicationReading.h"

#include <QHash>
#include <QSet>

// An in-memory process table and desktop-entry directory for tests and the
// fixture mode.
class FakeRunningApplications : public RunningApplicationReading
{
public:
    void insert(const RunningApplication &application) { m_applications.insert(application.pid, application); }
    void remove(qint32 pid) { m_applications.remove(pid); }

    // An entry, found by its id or Name in any case, and the processes that run it.
    void insertEntry(const DesktopApplication &entry, const QList<qint32> &pids = {});

    std::optional<RunningApplication> application(qint32 pid) override;
    std::optional<DesktopApplication> desktopApplication(const QString &idOrName) override;
    QList<qint32> processIds(const QString &desktopEntryId) override;
    bool runsInTerminal(const QString &desktopEntryId) override { return m_terminalEntries.contains(desktopEntryId); }

    // An entry whose program runs inside a terminal.
    void setRunsInTerminal(const QString &desktopEntryId) { m_terminalEntries.insert(desktopEntryId); }

private:
    QHash<qint32, RunningApplication> m_applications;
    QList<DesktopApplication> m_entries; // in order of insertion: the first match wins
    QHash<QString, QList<qint32>> m_pids; // by entry id
    QSet<QString> m_terminalEntries;
};
