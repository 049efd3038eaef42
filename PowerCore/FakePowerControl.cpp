#include "FakePowerControl.h"

#include <cerrno>

Expected<quint32, PowerError> FakePowerControl::create(AssertionKind kind)
{
    QMutexLocker locker(&m_lock);
    if (m_createFailure)
        return Unexpected(*m_createFailure);
    // Identifiers are never reused; once the supply is spent, creation is
    // refused rather than wrapping around onto identifiers still held.
    if (m_nextID == 0)
        return Unexpected(PowerError::assertionCreateFailed(-ENOSPC));
    const quint32 id = m_nextID++;
    m_active.insert(id, kind);
    return id;
}

Expected<void, PowerError> FakePowerControl::release(quint32 id)
{
    QMutexLocker locker(&m_lock);
    if (m_releaseFailure)
        return Unexpected(*m_releaseFailure);
    m_active.remove(id);
    return {};
}

// Answered at once: the fake never waits, so a toggle over it completes
// before it returns.
QCoro::Task<Expected<quint32, PowerError>> FakePowerControl::createAssertion(AssertionKind kind)
{
    co_return create(kind);
}

QCoro::Task<Expected<void, PowerError>> FakePowerControl::releaseAssertion(quint32 id)
{
    co_return release(id);
}

void FakePowerControl::lose(quint32 id)
{
    {
        QMutexLocker locker(&m_lock);
        if (!m_active.remove(id))
            return;
    }
    reportLost(id);
}

void FakePowerControl::setHeld(quint32 id, bool held)
{
    {
        QMutexLocker locker(&m_lock);
        if (!m_active.contains(id))
            return;
    }
    reportHeld(id, held);
}

void FakePowerControl::failCreate(std::optional<PowerError> error)
{
    QMutexLocker locker(&m_lock);
    m_createFailure = error;
}

void FakePowerControl::failRelease(std::optional<PowerError> error)
{
    QMutexLocker locker(&m_lock);
    m_releaseFailure = error;
}

QList<AssertionKind> FakePowerControl::activeKinds() const
{
    QMutexLocker locker(&m_lock);
    return m_active.values();
}
