#pragma once

#include "AssertionKind.h"
#include "Expected.h"
#include "PowerError.h"

#include <QCoroTask>

#include <functional>

// The primitive that creates and releases one assertion. Identifiers are
// the implementation's own 32-bit handles. Both calls are awaited; neither
// blocks the calling thread.
//
// An implementation whose assertions can end without being released (the
// service holding one went away and nothing took it again) tells its owner
// through the loss handler, with the identifier that is no longer held.
// One that keeps such an identifier asked for, to take it again as soon as
// a service can, tells through the hold handler instead: held false when
// nothing holds it any more, true once something does again.
class PowerControlling
{
public:
    using LossHandler = std::function<void(quint32 id)>;
    using HoldHandler = std::function<void(quint32 id, bool held)>;

    virtual ~PowerControlling() = default;

    virtual QCoro::Task<Expected<quint32, PowerError>> createAssertion(AssertionKind kind) = 0;
    virtual QCoro::Task<Expected<void, PowerError>> releaseAssertion(quint32 id) = 0;

    void setLossHandler(LossHandler handler) { m_lossHandler = std::move(handler); }
    void setHoldHandler(HoldHandler handler) { m_holdHandler = std::move(handler); }

protected:
    void reportLost(quint32 id) const
    {
        if (m_lossHandler)
            m_lossHandler(id);
    }

    void reportHeld(quint32 id, bool held) const
    {
        if (m_holdHandler)
            m_holdHandler(id, held);
    }

private:
    LossHandler m_lossHandler;
    HoldHandler m_holdHandler;
};
