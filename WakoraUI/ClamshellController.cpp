#include "ClamshellController.h"

#include "DesktopLidSettings.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>

ClamshellController::ClamshellController(std::shared_ptr<ClamshellServicing> service, QObject *parent)
    : ClamshellController(std::move(service), DesktopLidSettings::desktopDecidesLid(), parent)
{ }

ClamshellController::ClamshellController(
    std::shared_ptr<ClamshellServicing> service, bool desktopDecidesLid, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service))
    , m_desktopDecidesLid(desktopDecidesLid)
{
    QPointer<ClamshellController> weak(this);
    m_service->onConnectionLost = [weak] {
        if (weak)
            QMetaObject::invokeMethod(weak, &ClamshellController::refresh, Qt::QueuedConnection);
    };
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                refresh();
        });
    }
    // Queued, so the first state arrives after the owner has wired itself up.
    QMetaObject::invokeMethod(this, &ClamshellController::refresh, Qt::QueuedConnection);
}

ClamshellController::~ClamshellController()
{
    m_service->onConnectionLost = nullptr;
}

void ClamshellController::openSettings()
{
    if (presentation().opensDesktopSettings) {
        if (!DesktopLidSettings::openSettings(m_lidHandler))
            qWarning("No program opens the desktop's power settings (%s)",
                qUtf8Printable(DesktopLidSettings::settingsName(m_lidHandler)));
        return;
    }
    m_service->openSettings();
}

void ClamshellController::setLidHandlerLookup(std::function<QCoro::Task<QString>()> lookup)
{
    m_lidHandlerLookup = std::move(lookup);
    refresh();
}

void ClamshellController::refresh()
{
    refreshNow();
}

QCoro::Task<> ClamshellController::refreshNow()
{
    QPointer<ClamshellController> self(this);
    const auto service = m_service;
    const ClamshellState state = co_await service->currentState();
    if (!self)
        co_return;
    if (const auto lookup = m_lidHandlerLookup) {
        // A power manager may start or stop running the lid at any time: asked anew with each refresh.
        const QString handler = co_await lookup();
        if (!self)
            co_return;
        m_lidHandler = handler;
    }
    m_state = state;
    Q_EMIT didChange();
}

QCoro::Task<std::optional<QString>> ClamshellController::setEnabledAwaiting(bool enabled)
{
    QPointer<ClamshellController> self(this);
    const auto service = m_service;
    const auto result = co_await service->setEnabled(enabled);
    if (!self)
        co_return result ? std::nullopt : std::optional<QString>(result.error());
    if (result) {
        m_state = result.value();
        m_lastError.reset();
        Q_EMIT didChange();
        co_return std::nullopt;
    }

    const QString message
        = QCoreApplication::translate("WakoraUI", "덮개 설정을 변경하지 못했습니다. (%1)").arg(result.error());
    const ClamshellState actual = co_await service->currentState();
    if (!self)
        co_return message;
    m_state = actual;
    m_lastError = message;
    Q_EMIT didChange();
    co_return message;
}
