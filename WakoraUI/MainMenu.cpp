#include "MainMenu.h"

#include "AppLinks.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QWindow>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("WakoraUI", text);
}

const char *windowsMenuProperty = "wakora.windowsMenu";
const char *windowEntryProperty = "wakora.windowEntry";

QWidget *frontWindow()
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    // Offscreen and under some window managers nothing is active; take
    // the topmost visible window of ours, leaving menus and popups out.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        QWidget *widget = *it;
        if (widget->isVisible() && widget->isWindow() && !(widget->windowFlags() & Qt::Popup)
            && !qobject_cast<QMenu *>(widget))
            return widget;
    }
    return nullptr;
}

// Hiding the application: every window goes, as on the platform the
// design comes from; present() or a new launch brings the main window back.
void hideApplication()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && !qobject_cast<QMenu *>(widget) && !qobject_cast<QMenuBar *>(widget))
            widget->hide();
    }
}

// Lists the application's windows below the fixed items, each checked when
// it is the front one, choosing one brings it to the front.
void listWindows(QMenu *menu)
{
    for (QAction *action : menu->actions()) {
        if (action->property(windowEntryProperty).toBool()) {
            menu->removeAction(action);
            action->deleteLater();
        }
    }
    QWidget *front = frontWindow();
    bool separated = false;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || widget->windowTitle().isEmpty() || qobject_cast<QMenu *>(widget))
            continue;
        if (!separated) {
            QAction *separator = menu->addSeparator();
            separator->setProperty(windowEntryProperty, true);
            separated = true;
        }
        QAction *entry = menu->addAction(widget->windowTitle());
        entry->setProperty(windowEntryProperty, true);
        entry->setCheckable(true);
        entry->setChecked(widget == front);
        QPointer<QWidget> target = widget;
        QObject::connect(entry, &QAction::triggered, menu, [target] {
            if (!target)
                return;
            target->showNormal();
            target->raise();
            target->activateWindow();
        });
    }
}

} // namespace

QMenuBar *MainMenu::make()
{
    auto *bar = new QMenuBar;
    bar->setObjectName(QStringLiteral("mainMenu"));
    AppLinks &links = AppLinks::shared();

    auto *application = new QMenu(QStringLiteral("Wakora"), bar);
    application->setObjectName(QStringLiteral("menu.application"));
    QAction *about = application->addAction(tr("Wakora에 관하여"));
    about->setMenuRole(QAction::AboutRole);
    QObject::connect(about, &QAction::triggered, &links, &AppLinks::showAbout);
    QAction *homepage = application->addAction(tr("Wakora 홈페이지"));
    QObject::connect(homepage, &QAction::triggered, &links, &AppLinks::openHomepage);
    application->addSeparator();
    QAction *hide = application->addAction(tr("Wakora 가리기"));
    hide->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    QObject::connect(hide, &QAction::triggered, bar, &hideApplication);
    application->addSeparator();
    QAction *quit = application->addAction(tr("Wakora 종료"));
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    bar->addMenu(application);

    auto *window = new QMenu(tr("윈도우"), bar);
    window->setObjectName(QStringLiteral("menu.window"));
    QAction *close = window->addAction(tr("닫기"));
    close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    QObject::connect(close, &QAction::triggered, bar, [] {
        if (QWidget *front = frontWindow())
            front->close();
    });
    QAction *minimize = window->addAction(tr("최소화"));
    minimize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    QObject::connect(minimize, &QAction::triggered, bar, [] {
        if (QWidget *front = frontWindow())
            front->showMinimized();
    });
    QObject::connect(window, &QMenu::aboutToShow, window, [window] { listWindows(window); });
    bar->addMenu(window);
    bar->setProperty(windowsMenuProperty, QVariant::fromValue<QObject *>(window));
    return bar;
}

QMenu *MainMenu::windowsMenu(const QMenuBar *bar)
{
    return bar ? qobject_cast<QMenu *>(bar->property(windowsMenuProperty).value<QObject *>()) : nullptr;
}
