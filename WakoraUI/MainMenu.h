#pragma once

class QMenu;
class QMenuBar;

// The application's menu bar: the application menu "Wakora" (about, home
// page, hide, quit) and the window menu "윈도우" (close, minimize, then the
// application's windows). Main thread only.
class MainMenu
{
public:
    MainMenu() = delete;

    // A new menu bar; the caller owns it.
    static QMenuBar *make();

    // The window menu of a bar that make() built, or null.
    static QMenu *windowsMenu(const QMenuBar *bar);
};
