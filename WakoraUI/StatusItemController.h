#pragma once

#include "AssertionKind.h"

#include <QAction>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class ClamshellController;
class PowerToggling;

// The small control menu: one switch per assertion kind, the lid-closed
// switch, "open window" and "quit". In the agent it owns the tray icon; in
// the main application the same menu becomes a submenu of the menu bar.
// Every menu it builds is kept in step by sync(). Main thread only.
class StatusItemController : public QObject
{
    Q_OBJECT

public:
    // What the tray offers of timed sessions, where the process owns them
    // (the agent): keep the system awake for a while or until a clock time.
    struct TimerActions {
        std::function<void(qint64 seconds)> startFor;
        // A length ("90m", "1h30m") or a clock time ("18:30") as typed,
        // and whether the machine is put to sleep at the end; answers the
        // error to show, empty when the session started.
        std::function<QString(const QString &typed, bool thenSuspend)> startTyped;
        std::function<void()> cancel;
        std::function<std::optional<QDateTime>()> endsAt;
    };

    StatusItemController(PowerToggling *powerController, bool showsStatusItem, ClamshellController *clamshell,
        std::function<void()> onOpenWindow, std::function<void(const QString &)> onError, QObject *parent = nullptr);
    ~StatusItemController() override;

    // Adds the control menu, without its quit item, as the submenu "제어"
    // before the last entry of `menu` (a QMenuBar or a QMenu).
    void addControlMenu(QWidget *menu);

    // The tray icon, when this controller shows one.
    QSystemTrayIcon *statusItem() const { return m_statusItem.get(); }
    // Adds the "시간 지정" submenu to the tray's menu, before "창 열기…".
    void setTimerActions(TimerActions actions);
    // Where the process knows why the machine is kept awake (the agent):
    // a line per reason for the tooltip, which then shows the time left of
    // a timed session among them rather than on a line of its own.
    void setReasons(std::function<QStringList()> reasons);
    QMenu *statusMenu() const { return m_statusMenu.get(); }

    // The name of the symbol the icon currently shows.
    QString iconName() const { return m_iconName; }

    // The tray's picture: the themed symbolic icon by name where a
    // StatusNotifier host recolours it (`byName`) and the theme has it, else
    // our own drawn in the ink that stands out on `palette`'s window colour.
    static QIcon trayIcon(bool awake, bool byName, const QPalette &palette);
    static QColor trayInk(const QPalette &palette);
    // "Wakora", then what is held (`held`, the switches' names) and the clock
    // time it has been held since, with the day when it is not `today`.
    // The time left of a timed session follows, when one runs, then any
    // notice of a kind asked for that nothing holds.
    static QString toolTip(const QStringList &held, const std::optional<QDateTime> &since, const QDate &today,
        const std::optional<qint64> &secondsLeft = std::nullopt, const QStringList &notices = {});

public Q_SLOTS:
    void sync();
    void toggle(QAction *sender);
    void toggleClamshell();
    void openWindow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMenu *buildControlMenu(QWidget *parent);
    void askForLength();
    std::optional<qint64> secondsLeft() const;

    QPointer<PowerToggling> m_powerController;
    QPointer<ClamshellController> m_clamshell;
    std::function<void()> m_onOpenWindow;
    std::function<void(const QString &)> m_onError;
    std::unique_ptr<QSystemTrayIcon> m_statusItem;
    std::unique_ptr<QMenu> m_statusMenu;
    QHash<AssertionKind, QList<QPointer<QAction>>> m_toggleItems;
    QList<QPointer<QAction>> m_clamshellItems;
    QString m_iconName;
    QString m_iconKey;
    bool m_iconsByName = false;
    QHash<QString, QIcon> m_icons;
    TimerActions m_timer;
    std::function<QStringList()> m_reasons;
    QPointer<QMenu> m_timerMenu;
    QPointer<QAction> m_timerLeft;
    QPointer<QAction> m_timerCancel;
    // Counts the time left down while a session runs.
    QTimer m_timerTick;
};
