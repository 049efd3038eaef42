#include "LidGuards.h"

#include "ClamshellController.h"
#include "OffMainThread.h"
#include "RuleStore.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcLidGuards, "com.quorvel.WakoraApp.LidGuards")

LidGuards::LidGuards(ClamshellController *clamshell, RuleStore *store, std::shared_ptr<ThermalReading> thermal,
    Options options, QObject *parent)
    : QObject(parent)
    , m_clamshell(clamshell)
    , m_store(store)
    , m_thermal(std::move(thermal))
    , m_options(options)
{
    m_bag.setSingleShot(true);
    m_bag.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_bag, &QTimer::timeout, this, [this] {
        if (m_store && modeOwned() && m_store->lidGuards().bagHolds(m_facts))
            giveBack(LidGuardRules::bagReason(m_store->lidGuards().bagMinutes));
    });
    m_thermalTimer.setInterval(m_options.thermalInterval);
    m_thermalTimer.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_thermalTimer, &QTimer::timeout, this, [this] { checkTemperature(); });

    connect(clamshell, &ClamshellController::didChange, this, [this] {
        // A give-back the helper refused is tried again on the next change
        // of what the guards see, not on the controller's own re-read.
        if (!modeOwned())
            m_heldOff = false;
        if (!m_heldOff)
            evaluate();
    });
    connect(store, &RuleStore::conditionsChanged, this, &LidGuards::reconsider);
    connect(store, &RuleStore::lidGuardsChanged, this, [this] {
        // New minutes count from now.
        m_bag.stop();
        Q_EMIT rulesChanged();
        reconsider();
    });
    evaluate();
}

const LidGuardRules &LidGuards::rules() const
{
    static const LidGuardRules none{ false, 0, false };
    return m_store ? m_store->lidGuards() : none;
}

QCoro::Task<std::optional<QString>> LidGuards::setRules(LidGuardRules rules)
{
    const QPointer<RuleStore> store = m_store;
    if (!store)
        co_return QStringLiteral("The agent is ending");
    co_return co_await store->setLidGuards(rules);
}

void LidGuards::setLid(bool closed, bool docked)
{
    if (closed == m_facts.lidClosed && docked == m_facts.docked)
        return;
    m_facts.lidClosed = closed;
    m_facts.docked = docked;
    reconsider();
}

void LidGuards::setSource(const SessionRules::PowerSource &source)
{
    if (source.onBattery == m_facts.source.onBattery && source.percentage == m_facts.source.percentage)
        return;
    m_facts.source = source;
    reconsider();
}

std::optional<QString> LidGuards::refusal() const
{
    if (!m_store)
        return std::nullopt;
    return m_store->lidGuards().powerBreak(m_store->conditions(), m_facts);
}

bool LidGuards::modeOwned() const
{
    // A mode turned on outside Wakora is not ours to give back.
    return m_clamshell && m_clamshell->state().activation == ClamshellActivation::ownedByApp;
}

void LidGuards::reconsider()
{
    m_heldOff = false;
    evaluate();
}

void LidGuards::evaluate()
{
    if (!m_store || !modeOwned() || m_givingBack) {
        m_bag.stop();
        m_thermalTimer.stop();
        return;
    }
    const LidGuardRules &guards = m_store->lidGuards();
    if (const auto broken = guards.powerBreak(m_store->conditions(), m_facts)) {
        giveBack(*broken);
        return;
    }
    if (!guards.bagHolds(m_facts))
        m_bag.stop();
    else if (!m_bag.isActive())
        m_bag.start(m_options.minute * guards.bagMinutes);

    if (!guards.watchesTemperature(m_facts)) {
        m_thermalTimer.stop();
    } else if (!m_thermalTimer.isActive()) {
        // At once as the lid closes, then at the interval.
        m_thermalTimer.start();
        checkTemperature();
    }
}

QCoro::Task<> LidGuards::checkTemperature()
{
    if (m_readingTemperature || !m_thermal)
        co_return;
    QPointer<LidGuards> self(this);
    m_readingTemperature = true;
    const std::shared_ptr<ThermalReading> thermal = m_thermal;
    // A named lambda: GCC 12 loses a capture made in the co_await's own expression.
    const auto read = [thermal] { return thermal->hotZone(); };
    const std::optional<HotZone> hot = co_await offMainThread(read);
    if (!self)
        co_return;
    m_readingTemperature = false;
    // The lid may have opened, or the mode ended, while the zones were read.
    if (!hot || !m_store || !modeOwned() || !m_store->lidGuards().watchesTemperature(m_facts))
        co_return;
    giveBack(LidGuardRules::thermalReason(*hot));
}

QCoro::Task<> LidGuards::giveBack(QString reason)
{
    if (m_givingBack)
        co_return;
    QPointer<LidGuards> self(this);
    const QPointer<ClamshellController> clamshell = m_clamshell;
    if (!clamshell)
        co_return;
    m_givingBack = true;
    m_bag.stop();
    m_thermalTimer.stop();
    qCInfo(lcLidGuards, "Giving the lid-closed mode back: %s", qUtf8Printable(reason));
    const std::optional<QString> failure = co_await clamshell->setEnabledAwaiting(false);
    if (!self)
        co_return;
    m_givingBack = false;
    if (failure) {
        // The controller keeps the message for the window; the next change tries again.
        m_heldOff = true;
        qCWarning(lcLidGuards, "Cannot give the lid-closed mode back: %s", qUtf8Printable(*failure));
        co_return;
    }
    Q_EMIT gaveBack(reason);
}
