#include "FakeRunningApplications.h"

#include <algorithm>

void FakeRunningApplications::insertEntry(const DesktopApplication &entry, const QList<qint32> &pids)
{
    m_entries.append(entry);
    QList<qint32> sorted = pids;
    std::sort(sorted.begin(), sorted.end());
    m_pids.insert(entry.id, sorted);
}

std::optional<RunningApplication> FakeRunningApplications::application(qint32 pid)
{
    const auto found = m_applications.constFind(pid);
    if (found == m_applications.cend())
        return std::nullopt;
    return *found;
}

std::optional<DesktopApplication> FakeRunningApplications::desktopApplication(const QString &idOrName)
{
    for (const DesktopApplication &entry : std::as_const(m_entries)) {
        if (entry.id.compare(idOrName, Qt::CaseInsensitive) == 0
            || entry.localizedName.compare(idOrName, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return std::nullopt;
}

QList<qint32> FakeRunningApplications::processIds(const QString &desktopEntryId)
{
    return m_pids.value(desktopEntryId);
}
