#include "StatusItemController.h"

#include "ClamshellController.h"
#include "ClamshellPresentation.h"
#include "PowerToggling.h"

#include "DurationText.h"
#include "HoldNotices.h"
#include "InterfaceLocale.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcStatusItem, "com.quorvel.WakoraApp.StatusItem")

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("WakoraUI", text);
}

QCoro::Task<> toggleKind(QPointer<StatusItemController> controller, QPointer<PowerToggling> power, AssertionKind kind,
    bool enabled, std::function<void(const QString &)> onError)
{
    if (!power)
        co_return;
    const auto result = co_await power->setEnabled(enabled, kind);
    if (!controller)
        co_return;
    if (!result && onError)
        onError(tr("설정을 변경하지 못했습니다. (%1)").arg(result.error()));
    controller->sync();
}

// Whether a StatusNotifier host shows the tray: it is given the icon by name
// and draws it in its panel's colours. Otherwise Qt embeds our own pixmap in
// an XEmbed tray.
bool hasStatusNotifierHost()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

QString trayIconName(bool awake)
{
    return awake ? QStringLiteral("com.quorvel.WakoraApp-awake-symbolic")
                 : QStringLiteral("com.quorvel.WakoraApp-sleeping-symbolic");
}

} // namespace

QColor StatusItemController::trayInk(const QPalette &palette)
{
    // An XEmbed tray is painted in the desktop's panel colours, which the
    // application palette follows: light ink on a dark theme, dark on a light one.
    return palette.color(QPalette::Window).lightnessF() < 0.5 ? QColor(0xf5, 0xf5, 0xf5) : QColor(0x23, 0x26, 0x29);
}

QIcon StatusItemController::trayIcon(bool awake, bool byName, const QPalette &palette)
{
    const QString name = trayIconName(awake);
    if (byName) {
        const QIcon themed = QIcon::fromTheme(name);
        if (!themed.isNull())
            return themed;
    }
    QIcon icon;
    const QColor ink = trayInk(palette);
    for (const int size : { 16, 22, 24, 32, 48, 64 }) {
        QPixmap pixmap = QIcon(QStringLiteral(":/tray/") + name).pixmap(size, size);
        if (pixmap.isNull())
            continue;
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), ink);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QString StatusItemController::toolTip(const QStringList &held, const std::optional<QDateTime> &since,
    const QDate &today, const std::optional<qint64> &secondsLeft, const QStringList &notices)
{
    const QString tail = notices.isEmpty() ? QString() : QLatin1Char('\n') + notices.join(QLatin1Char('\n'));
    if (held.isEmpty())
        return QStringLiteral("Wakora\n") + tr("Mac이 평소대로 잠듭니다") + tail;
    QString text = QStringLiteral("Wakora\n") + held.join(QStringLiteral(", "));
    if (since) {
        const QDateTime local = since->toLocalTime();
        const QLocale locale = interfaceLocale();
        const QString time = local.date() == today
            ? locale.toString(local.time(), QStringLiteral("HH:mm"))
            : dayText(local.date()) + QLatin1Char(' ') + locale.toString(local.time(), QStringLiteral("HH:mm"));
        text += QLatin1Char('\n') + tr("%1부터").arg(time);
    }
    if (secondsLeft)
        text += QLatin1Char('\n') + DurationText::remaining(*secondsLeft);
    return text + tail;
}

StatusItemController::StatusItemController(PowerToggling *powerController, bool showsStatusItem,
    ClamshellController *clamshell, std::function<void()> onOpenWindow, std::function<void(const QString &)> onError,
    QObject *parent)
    : QObject(parent)
    , m_powerController(powerController)
    , m_clamshell(clamshell)
    , m_onOpenWindow(std::move(onOpenWindow))
    , m_onError(std::move(onError))
{
    if (showsStatusItem) {
        m_statusItem = std::make_unique<QSystemTrayIcon>();
        m_statusItem->setObjectName(QStringLiteral("statusItem"));
        m_iconsByName = hasStatusNotifierHost();
        // A theme chosen while the agent runs changes the ink of our own pixmaps.
        qApp->installEventFilter(this);
        m_statusMenu.reset(buildControlMenu(nullptr));
        m_statusItem->setContextMenu(m_statusMenu.get());
        // A left click opens the same menu, as a status item does.
        connect(m_statusItem.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
            if (why == QSystemTrayIcon::Trigger && m_statusMenu)
                m_statusMenu->popup(QCursor::pos());
        });
    }
    sync();
    if (m_statusItem) {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            qCWarning(lcStatusItem, "No system tray is available: Wakora runs on without its icon");
        m_statusItem->show();
    }
    if (m_powerController)
        connect(m_powerController, &PowerToggling::didChange, this, &StatusItemController::sync);
    if (m_clamshell)
        connect(m_clamshell, &ClamshellController::didChange, this, &StatusItemController::sync);
}

StatusItemController::~StatusItemController() = default;

QMenu *StatusItemController::buildControlMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    auto addToggle = [&](AssertionKind kind, const char *title, const QString &identifier) {
        QAction *item = menu->addAction(tr(title));
        item->setObjectName(identifier);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, item] { toggle(item); });
        m_toggleItems[kind].append(item);
    };
    addToggle(AssertionKind::systemSleep, "잠자기 방지", QStringLiteral("menu.systemSleep"));
    addToggle(AssertionKind::displaySleep, "디스플레이 켜 두기", QStringLiteral("menu.displaySleep"));
    if (m_clamshell) {
        QAction *item = menu->addAction(tr("덮개를 닫아도 유지"));
        item->setObjectName(QStringLiteral("menu.clamshell"));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, &StatusItemController::toggleClamshell);
        m_clamshellItems.append(item);
    }
    menu->addSeparator();
    QAction *open = menu->addAction(tr("창 열기…"));
    open->setObjectName(QStringLiteral("menu.openWindow"));
    connect(open, &QAction::triggered, this, &StatusItemController::openWindow);
    QAction *quit = menu->addAction(tr("종료"));
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    return menu;
}

void StatusItemController::addControlMenu(QWidget *target)
{
    QMenu *menu = buildControlMenu(target);
    menu->setTitle(tr("제어"));
    const QList<QAction *> items = menu->actions();
    if (!items.isEmpty()) {
        QAction *quit = items.last();
        menu->removeAction(quit);
        quit->deleteLater();
    }
    const QList<QAction *> existing = target->actions();
    const qsizetype index = std::max<qsizetype>(existing.size() - 1, 0);
    QAction *before = index < existing.size() ? existing.at(index) : nullptr;
    QAction *entry = menu->menuAction();
    entry->setText(tr("제어"));
    target->insertAction(before, entry);
    sync();
}

void StatusItemController::sync()
{
    bool anyEnabled = false;
    for (auto it = m_toggleItems.begin(); it != m_toggleItems.end(); ++it) {
        const bool enabled = m_powerController && m_powerController->isEnabled(it.key());
        anyEnabled = anyEnabled || enabled;
        for (const auto &item : std::as_const(it.value())) {
            if (item)
                item->setChecked(enabled);
        }
    }
    if (m_powerController) {
        for (const AssertionKind kind : allAssertionKinds)
            anyEnabled = anyEnabled || m_powerController->isEnabled(kind);
    }

    bool clamshellOn = false;
    if (m_clamshell) {
        const auto shown = m_clamshell->presentation();
        clamshellOn = shown.isOn;
        for (const auto &item : std::as_const(m_clamshellItems)) {
            if (!item)
                continue;
            item->setChecked(shown.isOn);
            item->setEnabled(shown.showsSettingsButton || shown.isEnabled);
            // Where the desktop decides the lid, the item says so and opens the window that explains it.
            item->setText(shown.opensDesktopSettings
                    ? tr("덮개를 닫아도 유지 (%1 전원 설정에서 정함)").arg(shown.settingsName)
                    : tr("덮개를 닫아도 유지"));
            item->setToolTip(shown.notice.value_or(QString()));
        }
    }

    const bool awake = anyEnabled || clamshellOn;
    m_iconName = awake ? QStringLiteral("moon.zzz.fill") : QStringLiteral("moon.zzz");
    if (!m_statusItem)
        return;

    QStringList held;
    if (m_powerController) {
        if (m_powerController->isEnabled(AssertionKind::systemSleep))
            held.append(tr("잠자기 방지"));
        if (m_powerController->isEnabled(AssertionKind::displaySleep))
            held.append(tr("디스플레이 켜 두기"));
    }
    if (clamshellOn)
        held.append(tr("덮개를 닫아도 유지"));
    const std::optional<QDateTime> since
        = m_powerController && anyEnabled ? m_powerController->activeSince() : std::nullopt;
    const std::optional<qint64> left = secondsLeft();
    if (m_timerMenu) {
        m_timerLeft->setVisible(left.has_value());
        m_timerCancel->setVisible(left.has_value());
        if (left)
            m_timerLeft->setText(DurationText::remaining(*left));
    }
    if (left && !m_timerTick.isActive())
        m_timerTick.start();
    else if (!left)
        m_timerTick.stop();
    QStringList notices = m_reasons ? m_reasons() : QStringList();
    if (m_powerController)
        notices += HoldNotices::of(*m_powerController);
    const QString tip = toolTip(held, since, QDate::currentDate(), m_reasons ? std::nullopt : left, notices);
    if (tip != m_statusItem->toolTip())
        m_statusItem->setToolTip(tip);

    // Only a new picture goes to the tray: each one is drawn and sent to the panel.
    const QString key = trayIconName(awake) + (m_iconsByName ? QString() : trayInk(qApp->palette()).name());
    if (key == m_iconKey)
        return;
    m_iconKey = key;
    // Each picture is drawn once; the icon keeps the pixmaps it drew.
    auto icon = m_icons.find(key);
    if (icon == m_icons.end())
        icon = m_icons.insert(key, trayIcon(awake, m_iconsByName, qApp->palette()));
    m_statusItem->setIcon(*icon);
}

bool StatusItemController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        sync();
    return QObject::eventFilter(watched, event);
}

std::optional<qint64> StatusItemController::secondsLeft() const
{
    if (!m_timer.endsAt)
        return std::nullopt;
    const std::optional<QDateTime> end = m_timer.endsAt();
    if (!end)
        return std::nullopt;
    // Rounded up, so the last seconds still read as time left.
    const qint64 milliseconds = QDateTime::currentDateTimeUtc().msecsTo(*end);
    return std::max<qint64>((milliseconds + 999) / 1000, 0);
}

void StatusItemController::setReasons(std::function<QStringList()> reasons)
{
    m_reasons = std::move(reasons);
    sync();
}

void StatusItemController::setTimerActions(TimerActions actions)
{
    m_timer = std::move(actions);
    if (!m_statusMenu || m_timerMenu)
        return;
    m_timerMenu = new QMenu(tr("시간 지정"), m_statusMenu.get());
    m_timerMenu->setObjectName(QStringLiteral("menu.timer"));
    const struct {
        const char *title;
        qint64 seconds;
    } presets[]
        = { { "15분", 15 * 60 }, { "30분", 30 * 60 }, { "1시간", 3600 }, { "2시간", 2 * 3600 }, { "5시간", 5 * 3600 } };
    for (const auto &preset : presets) {
        QAction *item = m_timerMenu->addAction(tr(preset.title));
        item->setObjectName(QStringLiteral("menu.timer.%1").arg(preset.seconds));
        connect(item, &QAction::triggered, this, [this, seconds = preset.seconds] {
            if (m_timer.startFor)
                m_timer.startFor(seconds);
        });
    }
    QAction *typed = m_timerMenu->addAction(tr("직접 입력…"));
    typed->setObjectName(QStringLiteral("menu.timer.typed"));
    connect(typed, &QAction::triggered, this, &StatusItemController::askForLength);
    m_timerMenu->addSeparator();
    m_timerLeft = m_timerMenu->addAction(QString());
    m_timerLeft->setObjectName(QStringLiteral("menu.timer.left"));
    m_timerLeft->setEnabled(false);
    m_timerCancel = m_timerMenu->addAction(tr("타이머 취소"));
    m_timerCancel->setObjectName(QStringLiteral("menu.timer.cancel"));
    connect(m_timerCancel, &QAction::triggered, this, [this] {
        if (m_timer.cancel)
            m_timer.cancel();
    });

    // Before the separator above "창 열기…".
    QAction *before = nullptr;
    for (QAction *item : m_statusMenu->actions()) {
        if (item->isSeparator()) {
            before = item;
            break;
        }
    }
    m_statusMenu->insertMenu(before, m_timerMenu);

    m_timerTick.setInterval(std::chrono::seconds(15));
    connect(&m_timerTick, &QTimer::timeout, this, &StatusItemController::sync);
    sync();
}

void StatusItemController::askForLength()
{
    // Not modal: the agent goes on serving while the dialog is open.
    auto *dialog = new QDialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("timer.dialog"));
    dialog->setWindowTitle(tr("시간 지정"));
    auto *layout = new QVBoxLayout(dialog);
    auto *label = new QLabel(tr("얼마 동안, 또는 몇 시까지 깨워 둘까요? (예: 90m, 1h30m, 18:30)"), dialog);
    auto *typed = new QLineEdit(dialog);
    typed->setObjectName(QStringLiteral("timer.dialog.length"));
    label->setBuddy(typed);
    auto *thenSuspend = new QCheckBox(tr("끝나면 잠자기"), dialog);
    thenSuspend->setObjectName(QStringLiteral("timer.dialog.thenSuspend"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    layout->addWidget(label);
    layout->addWidget(typed);
    layout->addWidget(thenSuspend);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(dialog, &QDialog::accepted, this, [this, typed, thenSuspend] {
        if (!m_timer.startTyped)
            return;
        if (const QString error = m_timer.startTyped(typed->text().trimmed(), thenSuspend->isChecked());
            !error.isEmpty()) {
            auto *box = new QMessageBox(QMessageBox::Warning, tr("시간 지정"), error);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
    });
    dialog->open();
}

void StatusItemController::toggle(QAction *sender)
{
    for (auto it = m_toggleItems.cbegin(); it != m_toggleItems.cend(); ++it) {
        if (!it.value().contains(sender))
            continue;
        if (!m_powerController)
            return;
        const AssertionKind kind = it.key();
        toggleKind(this, m_powerController, kind, !m_powerController->isEnabled(kind), m_onError);
        return;
    }
}

void StatusItemController::toggleClamshell()
{
    if (!m_clamshell)
        return;
    const auto shown = m_clamshell->presentation();
    // A mode left on where the desktop decides the lid can still be turned off here.
    if (shown.showsSettingsButton && !(shown.opensDesktopSettings && shown.isOn)) {
        openWindow();
        return;
    }
    // The controller's own change notification brings the menu up to date;
    // a failure stays in its lastError for the window to show.
    m_clamshell->setEnabledAwaiting(!shown.isOn);
}

void StatusItemController::openWindow()
{
    if (m_onOpenWindow)
        m_onOpenWindow();
}
