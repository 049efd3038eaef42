#pragma once

#include "LidGuardRules.h"
#include "ThermalReading.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

class ClamshellController;
class RuleStore;

// Gives the lid-closed mode back (and only it: the ledger's claims stay)
// when a closed laptop is at risk: a condition on the power source breaks,
// it has run on battery with the lid closed and no external display for the
// set time, or a thermal zone reaches its passive trip point. Only a mode
// this agent turned on is given back. Nothing runs while the mode is off:
// the bag timer is a single shot while its condition holds, and the
// temperatures are read only while the lid is closed. Main thread only.
class LidGuards : public QObject
{
    Q_OBJECT

public:
    struct Options {
        std::chrono::milliseconds minute = std::chrono::minutes(1);
        std::chrono::milliseconds thermalInterval = std::chrono::seconds(30);
    };

    LidGuards(ClamshellController *clamshell, RuleStore *store, std::shared_ptr<ThermalReading> thermal,
        Options options, QObject *parent = nullptr);

    const LidGuardRules &rules() const;
    // Stores and applies new guards; absent on success, else the text the requester is shown.
    QCoro::Task<std::optional<QString>> setRules(LidGuardRules rules);

    // What logind and UPower say now.
    void setLid(bool closed, bool docked);
    void setSource(const SessionRules::PowerSource &source);

    // Why turning the mode on is refused now, in the notice's words.
    std::optional<QString> refusal() const;

    bool bagTimerRuns() const { return m_bag.isActive(); }
    bool readsTemperatures() const { return m_thermalTimer.isActive(); }

Q_SIGNALS:
    void rulesChanged();
    // The mode was given back; the reason in the notice's words.
    void gaveBack(const QString &reason);

private:
    bool modeOwned() const;
    void evaluate();
    // What the guards see changed: a refused give-back may be tried again.
    void reconsider();
    QCoro::Task<> checkTemperature();
    QCoro::Task<> giveBack(QString reason);

    QPointer<ClamshellController> m_clamshell;
    QPointer<RuleStore> m_store;
    std::shared_ptr<ThermalReading> m_thermal;
    Options m_options;
    LidGuardRules::Facts m_facts;
    QTimer m_bag;
    QTimer m_thermalTimer;
    bool m_givingBack = false;
    bool m_heldOff = false;
    bool m_readingTemperature = false;
};
