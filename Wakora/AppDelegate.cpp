#include "AppDelegate.h"

#include "AutostartLoginItem.h"
#include "ClaimTexts.h"
#include "ClamshellController.h"
#include "ConditionsDialog.h"
#include "DesktopLidSettings.h"
#include "FakePowerControl.h"
#include "FakeRunningApplications.h"
#include "HelperRegistration.h"
#include "MainMenu.h"
#include "MainViewController.h"
#include "MainWindowController.h"
#include "PowerController.h"
#include "ProgramLocations.h"
#include "RemoteMenuBar.h"
#include "StatusItemController.h"
#include "SystemPowerStatus.h"
#include "SystemRunningApplications.h"
#include "UITestClamshellService.h"
#include "UITestOfflinePower.h"
#include "UITestPowerStatus.h"
#include "UITestUsage.h"
#include "UpdateChecker.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMenuBar>

#include <unistd.h>

namespace {

// Unknown while the agent cannot be reached: asking would only wait for the
// time-out, and the switch is disabled then anyway.
QCoro::Task<std::optional<bool>> readOpensAtLogin(std::weak_ptr<RemoteMenuBar> weak)
{
    const std::shared_ptr<RemoteMenuBar> remote = weak.lock();
    if (!remote || !remote->isAvailable())
        co_return std::nullopt;
    const auto answer = co_await remote->opensAtLogin();
    if (!answer)
        co_return std::nullopt;
    co_return answer.value();
}

QCoro::Task<> writeOpensAtLogin(std::weak_ptr<RemoteMenuBar> weak, bool enabled)
{
    const std::shared_ptr<RemoteMenuBar> remote = weak.lock();
    if (!remote)
        co_return;
    // The window reads the flag back afterwards; a failure shows there.
    co_await remote->setOpensAtLogin(enabled);
}

// When the agent's timed session ends; invalid while no session runs or the
// agent cannot say.
QCoro::Task<QDateTime> readTimedSessionEnd(std::weak_ptr<RemoteMenuBar> weak)
{
    const std::shared_ptr<RemoteMenuBar> remote = weak.lock();
    if (!remote || !remote->isAvailable())
        co_return QDateTime();
    const auto answer = co_await remote->timedSession();
    if (!answer || answer.value().kinds == 0)
        co_return QDateTime();
    co_return answer.value().endsAt.value_or(QDateTime());
}

// Why the agent keeps the machine awake, or not; empty while it cannot say.
QCoro::Task<QStringList> readReasons(std::weak_ptr<RemoteMenuBar> weak)
{
    const std::shared_ptr<RemoteMenuBar> remote = weak.lock();
    if (!remote || !remote->isAvailable())
        co_return QStringList();
    const auto answer = co_await remote->claims();
    if (!answer)
        co_return QStringList();
    co_return ClaimTexts::of(
        ClaimRecord::claims(answer.value().claims), answer.value().vetoes, QDateTime::currentDateTimeUtc());
}

} // namespace

AppDelegate::AppDelegate(QStringList arguments, QObject *parent)
    : QObject(parent)
    , m_arguments(std::move(arguments))
    , m_updateChecker(new UpdateChecker(!m_arguments.contains(QLatin1String("--ui-testing")), this))
{ }

AppDelegate::~AppDelegate()
{
    // The window and the menu go before what they show.
    m_statusItemController.reset();
    m_mainWindowController.reset();
    m_clamshellController.reset();
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_mainMenu = MainMenu::make();
    const QList<QAction *> topLevel = m_mainMenu->actions();
    if (!topLevel.isEmpty())
        m_updateChecker->addMenuItem(topLevel.first()->menu());

    if (const std::optional<FixtureMode> mode = FixtureMode::fromArguments(m_arguments))
        buildFixtures(*mode);
    else
        buildRemote();

    m_clamshellController = std::make_unique<ClamshellController>(m_clamshellService);
    if (m_remote) {
        // A power manager that runs the lid itself is found in logind's list, on any desktop.
        m_clamshellController->setLidHandlerLookup(
            [] { return DesktopLidSettings::readLidHandler(QDBusConnection::systemBus()); });
    }
    std::optional<MainWindowOptions> options;
    if (m_remote) {
        const std::weak_ptr<RemoteMenuBar> weak = m_remote;
        options = MainWindowOptions{ [weak] { return readOpensAtLogin(weak); },
            [weak](bool enabled) { return writeOpensAtLogin(weak, enabled); } };
    }
    m_mainWindowController = std::make_unique<MainWindowController>(m_powerController, m_statusReader.get(),
        m_clamshellController.get(), m_usage.get(), std::move(options), m_applications.get());
    m_mainWindowController->setMenuBar(m_mainMenu);
    if (m_remote) {
        const std::weak_ptr<RemoteMenuBar> weak = m_remote;
        m_mainWindowController->viewController()->setTimedSessionSource([weak] { return readTimedSessionEnd(weak); });
        m_mainWindowController->viewController()->setReasonsSource([weak] { return readReasons(weak); });
    }

    m_statusItemController = std::make_unique<StatusItemController>(
        m_powerController, false, m_clamshellController.get(), [this] { present(); },
        [this](const QString &message) { presentError(message); });
    if (m_mainMenu)
        m_statusItemController->addControlMenu(m_mainMenu);
    if (m_remote)
        offerConditions();
    present();
}

void AppDelegate::buildFixtures(const FixtureMode &mode)
{
    m_fakeControl = std::make_shared<FakePowerControl>();
    if (mode.offline)
        m_ownedPower = std::make_unique<UITestOfflinePower>();
    else
        m_ownedPower = std::make_unique<PowerController>(m_fakeControl);
    m_powerController = m_ownedPower.get();
    const qint32 ownPID = static_cast<qint32>(::getpid());
    QPointer<PowerToggling> power = m_powerController;
    m_statusReader = std::make_unique<UITestPowerStatus>(
        mode.status, ownPID, [power](AssertionKind kind) { return power && power->isEnabled(kind); });
    m_clamshellService = std::make_shared<UITestClamshellService>(mode.clamshell);
    m_usage = std::make_shared<UITestUsage>(mode.history);
    auto applications = std::make_unique<FakeRunningApplications>();
    applications->insert({ UITestPowerStatus::videoPlayerPID, true, QStringLiteral("동영상"), QString() });
    m_applications = std::move(applications);
}

void AppDelegate::buildRemote()
{
    const ProgramLocations locations = ProgramLocations::ofThisProgram();
    auto loginItem = std::make_shared<AutostartLoginItem>(locations.agent(), AutostartLoginItem::defaultConfigHome());
    auto daemon = std::make_shared<HelperRegistration>(HelperRegistration::forPrefix(locations.prefix()));
    m_remote = std::make_shared<RemoteMenuBar>(
        QDBusConnection::sessionBus(), locations, loginItem, daemon, RemoteMenuBar::Options{});
    m_remote->start();
    m_powerController = m_remote.get();
    m_clamshellService = m_remote;
    m_usage = m_remote;
    m_applications = std::make_shared<SystemRunningApplications>();
    m_statusReader = std::make_unique<SystemPowerStatus>(
        QDBusConnection::systemBus(), QDBusConnection::sessionBus(), m_applications, locations.pmset());
}

void AppDelegate::offerConditions()
{
    // At the end of the control menu, which the status item controller added.
    for (QAction *entry : m_mainMenu ? m_mainMenu->actions() : QList<QAction *>()) {
        if (entry->menu() && entry->text() == QCoreApplication::translate("WakoraUI", "제어")) {
            entry->menu()->addSeparator();
            QAction *item = entry->menu()->addAction(QCoreApplication::translate("WakoraUI", "깨워 둘 조건…"));
            item->setObjectName(QStringLiteral("menu.conditions"));
            connect(item, &QAction::triggered, this, &AppDelegate::presentConditions);
        }
    }
    // The agent announces a change of its conditions like any other.
    connect(m_remote.get(), &PowerToggling::didChange, this, [this] { refreshConditions(); });
    refreshConditions();
}

QCoro::Task<> AppDelegate::refreshConditions()
{
    QPointer<AppDelegate> self(this);
    const std::shared_ptr<RemoteMenuBar> remote = m_remote;
    if (!remote || !remote->isAvailable())
        co_return;
    const auto rules = co_await remote->rules();
    if (!self || !rules)
        co_return;
    const auto watched = co_await remote->whileApplication();
    if (!self || !watched)
        co_return;
    const auto lidGuards = co_await remote->lidGuards();
    if (!self || !lidGuards)
        co_return;
    const auto triggers = co_await remote->triggers();
    if (!self || !triggers)
        co_return;
    SessionConditions conditions;
    conditions.triggers = triggers.value();
    conditions.lidGuards = lidGuards.value();
    conditions.onlyOnAC = rules.value().onlyOnAC;
    conditions.batteryFloor = rules.value().batteryFloor;
    conditions.application = watched.value().application;
    conditions.applicationKeepsDisplay = (watched.value().kinds & 2) != 0;
    if (m_mainWindowController)
        m_mainWindowController->viewController()->setConditionsText(conditions.summary());
    if (m_conditionsDialog && !m_conditionsDialog->isVisible())
        m_conditionsDialog->setConditions(conditions);
}

void AppDelegate::presentConditions()
{
    if (!m_conditionsDialog) {
        m_conditionsDialog = new ConditionsDialog(m_mainWindowController.get());
        connect(m_conditionsDialog, &QDialog::accepted, this, [this] { applyConditions(); });
    }
    refreshConditions();
    m_conditionsDialog->showError(QString());
    m_conditionsDialog->open();
}

QCoro::Task<> AppDelegate::applyConditions()
{
    QPointer<AppDelegate> self(this);
    const std::shared_ptr<RemoteMenuBar> remote = m_remote;
    if (!remote || !m_conditionsDialog)
        co_return;
    const SessionConditions wanted = m_conditionsDialog->conditions();
    auto failed = [this](const QString &error) {
        if (!m_conditionsDialog)
            return;
        m_conditionsDialog->showError(
            QCoreApplication::translate("WakoraUI", "설정을 변경하지 못했습니다. (%1)").arg(error));
        m_conditionsDialog->open();
    };
    const auto rules = co_await remote->setRules({ wanted.onlyOnAC, wanted.batteryFloor });
    if (!self)
        co_return;
    if (!rules) {
        failed(rules.error());
        co_return;
    }
    const auto application
        = co_await remote->setWhileApplication(wanted.application, wanted.applicationKeepsDisplay ? 3 : 1);
    if (!self)
        co_return;
    if (!application) {
        failed(application.error());
        co_return;
    }
    const auto lidGuards = co_await remote->setLidGuards(wanted.lidGuards);
    if (!self)
        co_return;
    if (!lidGuards) {
        failed(lidGuards.error());
        co_return;
    }
    // Only the triggers whose rule changed: the others keep theirs as stored.
    const auto current = co_await remote->triggers();
    if (!self)
        co_return;
    if (!current) {
        failed(current.error());
        co_return;
    }
    for (const TriggerRecord &trigger : wanted.triggers) {
        const auto before = std::find_if(current.value().cbegin(), current.value().cend(),
            [&trigger](const TriggerRecord &stored) { return stored.name == trigger.name; });
        if (before != current.value().cend() && before->enabled == trigger.enabled && before->kinds == trigger.kinds
            && before->options == trigger.options)
            continue;
        const auto stored = co_await remote->setTrigger(trigger.name, trigger.enabled, trigger.kinds, trigger.options);
        if (!self)
            co_return;
        if (!stored) {
            failed(QStringLiteral("%1: %2").arg(ClaimTexts::triggerLabel(trigger.name), stored.error()));
            co_return;
        }
    }
    refreshConditions();
}

void AppDelegate::applicationWillTerminate()
{
    if (auto *own = qobject_cast<PowerController *>(m_powerController.data()))
        own->releaseAll();
}

void AppDelegate::present()
{
    if (m_mainWindowController)
        m_mainWindowController->present();
}

void AppDelegate::presentError(const QString &message)
{
    if (m_mainWindowController)
        m_mainWindowController->presentError(message);
}
