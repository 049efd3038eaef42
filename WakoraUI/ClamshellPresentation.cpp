#include "ClamshellPresentation.h"

#include "DesktopLidSettings.h"

#include <QCoreApplication>

QString clamshellWarningText()
{
    static const QString text = QCoreApplication::translate("WakoraUI",
        "덮개를 닫아도 Mac이 잠들지 않습니다. 가방에 넣으면 과열되거나 배터리가 빠르게 소모될 수 있습니다.");
    return text;
}

QString desktopLidNoticeText()
{
    return QCoreApplication::translate(
        "WakoraUI", "KDE Plasma에서는 덮개를 닫았을 때의 동작을 Plasma 전원 설정에서 정합니다.");
}

QString lidHandlerNoticeText(const QString &lidHandler)
{
    const QString name = DesktopLidSettings::settingsName(lidHandler);
    if (name == u"Plasma")
        return desktopLidNoticeText();
    if (name == u"Xfce")
        return QCoreApplication::translate("WakoraUI",
            "Xfce 전원 관리자가 덮개를 닫았을 때의 동작을 직접 정합니다. Xfce 전원 관리자 설정에서 정하세요.");
    return QCoreApplication::translate(
        "WakoraUI", "%1이(가) 덮개를 닫았을 때의 동작을 직접 정합니다. 그 전원 설정에서 정하세요.")
        .arg(lidHandler);
}

ClamshellPresentation ClamshellPresentation::of(
    const ClamshellState &state, bool desktopDecidesLid, const QString &lidHandler)
{
    const bool on = state.activation != ClamshellActivation::off;
    if (desktopDecidesLid)
        return { on, on, desktopLidNoticeText(), true, false, true, QStringLiteral("Plasma") };
    if (!lidHandler.isEmpty())
        return { on, on, lidHandlerNoticeText(lidHandler), true, false, true,
            DesktopLidSettings::settingsName(lidHandler) };
    switch (state.approval) {
    case ClamshellApproval::enabled:
        switch (state.activation) {
        case ClamshellActivation::off:
            return { false, true, std::nullopt, false, false, false, {} };
        case ClamshellActivation::ownedByApp:
            return { true, true, std::nullopt, false, true, false, {} };
        case ClamshellActivation::onOutsideApp:
            return { true, false,
                QCoreApplication::translate(
                    "WakoraUI", "시스템에서 이미 켜져 있습니다. 이 앱은 이 설정을 변경하지 않습니다."),
                false, true, false, {} };
        }
        break;
    case ClamshellApproval::requiresApproval:
        return { on, false,
            QCoreApplication::translate(
                "WakoraUI", "이 기능을 사용하려면 시스템 설정의 로그인 항목에서 Wakora를 허용해야 합니다."),
            true, on, false, {} };
    case ClamshellApproval::notRegistered:
    case ClamshellApproval::notFound:
        return { on, true, std::nullopt, false, on, false, {} };
    }
    Q_UNREACHABLE();
}
