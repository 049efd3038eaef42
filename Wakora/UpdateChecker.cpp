#include "UpdateChecker.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMenu>

UpdateChecker::UpdateChecker(bool startsAtOnce, QObject *parent)
    : QObject(parent)
    , m_started(startsAtOnce)
{ }

void UpdateChecker::addMenuItem(QMenu *applicationMenu)
{
    if (!applicationMenu)
        return;
    auto *item = new QAction(QCoreApplication::translate("Wakora", "업데이트 확인…"), applicationMenu);
    item->setObjectName(QStringLiteral("menu.checkForUpdates"));
    connect(item, &QAction::triggered, this, &UpdateChecker::checkForUpdates);
    const QList<QAction *> items = applicationMenu->actions();
    applicationMenu->insertAction(items.size() > 1 ? items.at(1) : nullptr, item);
}

void UpdateChecker::checkForUpdates()
{
    QDesktopServices::openUrl(QUrl(QLatin1String(releasePage)));
}
