#include "FakeRunningApplications.h"

std::optional<RunningApplication> FakeRunningApplications::application(qint32 pid)
{
    const auto found = m_applications.constFind(pid);
    if (found == m_applications.cend())
        return std::nullopt;
    return *found;
}
