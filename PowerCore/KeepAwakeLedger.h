#pragma once

#include "PowerToggling.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>

#include <array>
#include <optional>

// One thing that wants the machine kept awake: the user's switch, a timed
// session, the application rule, a trigger. An owner has at most one claim,
// over one or more kinds.
struct Claim {
    QString owner; // one of the owners below
    qint64 kinds = 0; // assertionBit() per kind
    std::optional<QDateTime> endsAt; // a timed session's end
    QString subject; // what the claim is about: the application's name, the trigger's subject

    bool operator==(const Claim &) const = default;

    static QString manualOwner() { return QStringLiteral("switch"); }
    static QString timerOwner() { return QStringLiteral("timer"); }
    static QString applicationOwner() { return QStringLiteral("application"); }
    // A command run by `wakora hold`, for as long as its caller is on the bus.
    static QString holdOwner(const QString &busName) { return QStringLiteral("hold:") + busName; }
    bool isHold() const { return owner.startsWith(u"hold:"); }
    // A trigger's claim ("trigger:media"), made while what it watches holds.
    static QString triggerOwner(const QString &name) { return QStringLiteral("trigger:") + name; }
    bool isTrigger() const { return owner.startsWith(u"trigger:"); }
    // The trigger's name for a trigger's claim, else empty.
    QString triggerName() const { return isTrigger() ? owner.mid(8) : QString(); }
};

// The agent's one account of what keeps the machine awake, and the only
// thing that asks the power controller to hold or release a kind.
//
// A kind is held while at least one claim asks for it and no veto is in
// force. A veto (a condition on the power source that no longer holds)
// releases every kind while it lasts; the claims stay, and are held again
// when it is lifted. A claim ends only by its owner's word (a timer's end,
// an application's exit), or by the user switching its kind off, which ends
// every claim on that kind at once.
//
// Whatever order claims, releases and vetoes arrive in, the controller is
// brought to the wish of the moment: each change re-reads the wish when the
// controller has answered, so no answer overtakes a later change. Main
// thread only.
class KeepAwakeLedger : public QObject
{
    Q_OBJECT

public:
    explicit KeepAwakeLedger(PowerToggling *power, QObject *parent = nullptr);

    // The live claims, in the order they were first made.
    const QList<Claim> &claims() const { return m_claims; }
    std::optional<Claim> claim(const QString &owner) const;
    const std::optional<QString> &veto() const { return m_veto; }
    // Whether a live claim asks for the kind, veto or not.
    bool isClaimed(AssertionKind kind) const;
    // Whether the kind should be held now.
    bool wants(AssertionKind kind) const { return isClaimed(kind) && !m_veto; }
    // Whether the controller has caught up with every change.
    bool isSettled() const;
    // Whether the controller is being asked something now.
    bool isBusy() const;

    // Adds kinds to the owner's claim (creating it), with the claim's end
    // and subject. All or nothing: when a kind cannot be held, the claim is
    // left as it was and the text says why. Refused with the veto's text
    // while one is in force, unless waitsOutVeto: a standing claim (the
    // application rule) is then recorded and held once the veto lifts.
    struct Details {
        std::optional<QDateTime> endsAt;
        QString subject;
        bool waitsOutVeto = false;
    };
    QCoro::Task<std::optional<QString>> add(QString owner, qint64 kinds, Details details);
    // Updates a live claim's end or subject without touching its kinds.
    void describe(const QString &owner, Details details);
    // The owner withdraws kinds of its claim (all of them by default); what
    // no other claim asks for is released.
    QCoro::Task<> withdraw(QString owner, qint64 kinds = ~qint64(0));
    // The user's switch: on adds to the switch's own claim; off ends every
    // claim on the kind. Absent on success, else the text the user is shown.
    QCoro::Task<std::optional<QString>> setSwitch(AssertionKind kind, bool enabled);
    // Puts a veto in force (with its reason) or lifts it (nullopt).
    QCoro::Task<> setVeto(std::optional<QString> reason);
    // The agent is ending and gives everything back by itself: from here on
    // the ledger asks the controller nothing and reads no loss into it.
    void detach();

Q_SIGNALS:
    // Claims or the veto changed.
    void changed();
    // Kinds of an owner's claim were ended by someone else: the switch, or
    // a kind the controller lost. The owner forgets them.
    void claimCut(const QString &owner, qint64 kinds);
    // The last question to the controller has been answered.
    void caughtUp();

private:
    // Brings the controller to the wish for every kind in the bit set;
    // answers the first refusal's text of a kind that should be held.
    QCoro::Task<std::optional<QString>> settle(qint64 kinds);
    QCoro::Task<std::optional<QString>> settleKind(AssertionKind kind);
    // Ends every claim on the kind; announces each cut.
    void cut(AssertionKind kind);
    void powerChanged();

    QPointer<PowerToggling> m_power;
    QList<Claim> m_claims;
    std::optional<QString> m_veto;
    std::array<int, allAssertionKinds.size()> m_settling{}; // settles running per kind
    std::array<bool, allAssertionKinds.size()> m_holding{}; // held (or waiting) at the end of the last settle
};
