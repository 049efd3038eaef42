#pragma once

#include "PowerControlling.h"

#include <QHash>
#include <QList>
#include <QMutex>

#include <optional>

// An in-memory assertion table with injectable failures, for the fixture
// mode and for tests. Safe to use from any thread.
class FakePowerControl : public PowerControlling
{
public:
    QCoro::Task<Expected<quint32, PowerError>> createAssertion(AssertionKind kind) override;
    QCoro::Task<Expected<void, PowerError>> releaseAssertion(quint32 id) override;

    // The same, answered synchronously.
    Expected<quint32, PowerError> create(AssertionKind kind);
    Expected<void, PowerError> release(quint32 id);

    // Ends an assertion as a service going away would, and tells the owner.
    void lose(quint32 id);
    // Tells the owner that the assertion is held by no service now (false),
    // or held again (true), as a control that waits for a service does; it
    // stays active either way.
    void setHeld(quint32 id, bool held);

    // Sets, or with no error clears, the failure every later call returns.
    void failCreate(std::optional<PowerError> error = std::nullopt);
    void failRelease(std::optional<PowerError> error = std::nullopt);

    QList<AssertionKind> activeKinds() const;

private:
    mutable QMutex m_lock;
    quint32 m_nextID = 1;
    QHash<quint32, AssertionKind> m_active;
    std::optional<PowerError> m_createFailure;
    std::optional<PowerError> m_releaseFailure;
};
