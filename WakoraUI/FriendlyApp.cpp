#include "FriendlyApp.h"

#include <QCoreApplication>

QString FriendlyApp::activityText() const
{
    return keepsDisplayOn ? QCoreApplication::translate("WakoraUI", "화면을 켜 두는 중")
                          : QCoreApplication::translate("WakoraUI", "Mac을 깨워 두는 중");
}

QString FriendlyApp::detailText() const
{
    QStringList lines{ QStringLiteral("PID ") + QString::number(pid) };
    lines += reasons;
    return lines.join(QLatin1Char('\n'));
}

bool assertionTypeKeepsDisplayOn(const QString &type)
{
    if (type.contains(QLatin1String("display"), Qt::CaseInsensitive))
        return true;
    const QStringList items = type.split(QLatin1Char(':'));
    return std::any_of(items.cbegin(), items.cend(), [](const QString &item) { return item.trimmed() == u"idle"; });
}
