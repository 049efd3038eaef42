#include "UnavailableClamshellService.h"

#include <QCoreApplication>

UnavailableClamshellService::UnavailableClamshellService(std::function<void()> openMainApplication)
    : m_openMainApplication(std::move(openMainApplication))
{ }

QCoro::Task<ClamshellState> UnavailableClamshellService::currentState()
{
    co_return ClamshellState{ ClamshellApproval::notFound, ClamshellActivation::off };
}

QCoro::Task<Expected<ClamshellState, QString>> UnavailableClamshellService::setEnabled(bool enabled)
{
    if (!enabled)
        co_return ClamshellState{ ClamshellApproval::notFound, ClamshellActivation::off };
    co_return Unexpected(
        QCoreApplication::translate("WakoraMenuBar", "헬퍼를 찾을 수 없습니다. 앱을 다시 설치해 주세요."));
}

void UnavailableClamshellService::openSettings()
{
    if (m_openMainApplication)
        m_openMainApplication();
}
