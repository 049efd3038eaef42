#include "UITestClamshellService.h"

#include "RemoteMenuBar.h"

#include <QCoreApplication>

UITestClamshellService::UITestClamshellService(ClamshellState initial)
    : m_state(initial)
{ }

QCoro::Task<ClamshellState> UITestClamshellService::currentState()
{
    co_return ClamshellState(m_state);
}

QCoro::Task<Expected<ClamshellState, QString>> UITestClamshellService::setEnabled(bool enabled)
{
    switch (m_state.approval) {
    case ClamshellApproval::notFound:
        co_return Unexpected(RemoteError::helperNotFound());
    case ClamshellApproval::requiresApproval:
        co_return Unexpected(QCoreApplication::translate("Wakora", "시스템 설정에서 허용해야 합니다."));
    case ClamshellApproval::notRegistered:
        if (!enabled)
            co_return ClamshellState(m_state);
        m_state.approval = ClamshellApproval::enabled;
        break;
    case ClamshellApproval::enabled:
        break;
    }
    if (m_state.activation != ClamshellActivation::onOutsideApp)
        m_state.activation = enabled ? ClamshellActivation::ownedByApp : ClamshellActivation::off;
    co_return ClamshellState(m_state);
}

void UITestClamshellService::openSettings()
{
    // Nothing to open in the fixture mode; the count is what tests look at.
    ++m_settingsOpened;
}
