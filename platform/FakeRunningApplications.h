#pragma once

#include "RunningApplicationReading.h"

#include <QHash>

// An in-memory process table for tests and the fixture mode.
class FakeRunningApplications : public RunningApplicationReading
{
public:
    void insert(const RunningApplication &application) { m_applications.insert(application.pid, application); }
    void remove(qint32 pid) { m_applications.remove(pid); }

    std::optional<RunningApplication> application(qint32 pid) override;

private:
    QHash<qint32, RunningApplication> m_applications;
};
