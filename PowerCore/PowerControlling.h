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
class PowerControlling
{
public:
    using LossHandler = std::function<void(quint32 id)>;

    virtual ~PowerControlling() = default;

    virtual QCoro::Task<Expected<quint32, PowerError>> createAssertion(AssertionKind kind) = 0;
    virtual QCoro::Task<Expected<void, PowerError>> releaseAssertion(quint32 id) = 0;

    void setLossHandler(LossHandler handler) { m_lossHandler = std::move(handler); }

protected:
    void reportLost(quint32 id) const
    {
        if (m_lossHandler)
            m_lossHandler(id);
    }

private:
    LossHandler m_lossHandler;
};
