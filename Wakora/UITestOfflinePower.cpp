#include "UITestOfflinePower.h"

#include "RemoteMenuBar.h"

QCoro::Task<Expected<void, QString>> UITestOfflinePower::setEnabled(bool, AssertionKind)
{
    co_return Unexpected(RemoteError::invalidProxy());
}
