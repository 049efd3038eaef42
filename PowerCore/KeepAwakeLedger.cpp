#include "KeepAwakeLedger.h"

#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcLedger, "com.quorvel.WakoraApp.Ledger")

namespace {

QString endingText()
{
    return QStringLiteral("The agent is ending");
}

constexpr qint64 allKinds()
{
    qint64 bits = 0;
    for (const AssertionKind kind : allAssertionKinds)
        bits |= assertionBit(kind);
    return bits;
}

} // namespace

KeepAwakeLedger::KeepAwakeLedger(PowerToggling *power, QObject *parent)
    : QObject(parent)
    , m_power(power)
{
    connect(power, &PowerToggling::didChange, this, &KeepAwakeLedger::powerChanged);
}

std::optional<Claim> KeepAwakeLedger::claim(const QString &owner) const
{
    const auto found = std::find_if(
        m_claims.cbegin(), m_claims.cend(), [&owner](const Claim &claim) { return claim.owner == owner; });
    if (found == m_claims.cend())
        return std::nullopt;
    return *found;
}

bool KeepAwakeLedger::isClaimed(AssertionKind kind) const
{
    return std::any_of(m_claims.cbegin(), m_claims.cend(),
        [kind](const Claim &claim) { return (claim.kinds & assertionBit(kind)) != 0; });
}

bool KeepAwakeLedger::isSettled() const
{
    if (!m_power)
        return true;
    return std::all_of(allAssertionKinds.cbegin(), allAssertionKinds.cend(), [this](AssertionKind kind) {
        return m_settling.at(size_t(kind)) == 0 && m_power->isAskedFor(kind) == wants(kind);
    });
}

bool KeepAwakeLedger::isBusy() const
{
    return std::any_of(m_settling.cbegin(), m_settling.cend(), [](int settling) { return settling != 0; });
}

QCoro::Task<std::optional<QString>> KeepAwakeLedger::add(QString owner, qint64 kinds, Details details)
{
    kinds &= allKinds();
    if (m_veto && !details.waitsOutVeto) {
        // A copy: a member named in co_return may be moved from.
        const std::optional<QString> veto = m_veto;
        co_return veto;
    }
    QPointer<KeepAwakeLedger> self(this);
    const std::optional<Claim> before = claim(owner);
    Claim after = before.value_or(Claim{ owner, 0, std::nullopt, QString() });
    after.kinds |= kinds;
    after.endsAt = details.endsAt;
    after.subject = details.subject;
    if (before)
        std::replace(m_claims.begin(), m_claims.end(), *before, after);
    else
        m_claims.append(after);
    Q_EMIT changed();

    const std::optional<QString> failure = co_await settle(kinds);
    if (!self)
        co_return endingText();
    if (!failure)
        co_return std::nullopt;
    // All or nothing: the claim goes back to what it was, and what was
    // taken for it alone is given back.
    qCWarning(
        lcLedger, "The claim of %s on kinds %lld failed: %s", qUtf8Printable(owner), kinds, qUtf8Printable(*failure));
    const qint64 added = kinds & ~(before ? before->kinds : 0);
    for (Claim &claim : m_claims) {
        if (claim.owner != owner)
            continue;
        claim.kinds &= ~added;
        if (before) {
            claim.endsAt = before->endsAt;
            claim.subject = before->subject;
        }
    }
    m_claims.removeIf([](const Claim &claim) { return claim.kinds == 0; });
    Q_EMIT changed();
    co_await settle(added);
    co_return failure;
}

void KeepAwakeLedger::describe(const QString &owner, Details details)
{
    for (Claim &claim : m_claims) {
        if (claim.owner != owner || (claim.endsAt == details.endsAt && claim.subject == details.subject))
            continue;
        claim.endsAt = details.endsAt;
        claim.subject = details.subject;
        Q_EMIT changed();
    }
}

QCoro::Task<> KeepAwakeLedger::withdraw(QString owner, qint64 kinds)
{
    qint64 withdrawn = 0;
    for (Claim &claim : m_claims) {
        if (claim.owner != owner)
            continue;
        withdrawn = claim.kinds & kinds;
        claim.kinds &= ~kinds;
    }
    m_claims.removeIf([](const Claim &claim) { return claim.kinds == 0; });
    if (withdrawn == 0)
        co_return;
    Q_EMIT changed();
    co_await settle(withdrawn);
}

QCoro::Task<std::optional<QString>> KeepAwakeLedger::setSwitch(AssertionKind kind, bool enabled)
{
    if (enabled) {
        const QString owner = Claim::manualOwner();
        const Details details;
        co_return co_await add(owner, assertionBit(kind), details);
    }
    cut(kind);
    QPointer<KeepAwakeLedger> self(this);
    const std::optional<QString> failure = co_await settleKind(kind);
    if (!self)
        co_return endingText();
    co_return failure;
}

QCoro::Task<> KeepAwakeLedger::setVeto(std::optional<QString> reason)
{
    if (reason == m_veto)
        co_return;
    if (reason)
        qCInfo(lcLedger, "Vetoed: %s", qUtf8Printable(*reason));
    else
        qCInfo(lcLedger, "The veto is lifted");
    m_veto = std::move(reason);
    Q_EMIT changed();
    co_await settle(allKinds());
}

void KeepAwakeLedger::detach()
{
    if (m_power)
        disconnect(m_power, nullptr, this, nullptr);
    m_power.clear();
}

void KeepAwakeLedger::cut(AssertionKind kind)
{
    const qint64 bit = assertionBit(kind);
    QList<std::pair<QString, qint64>> cuts;
    for (Claim &claim : m_claims) {
        if (!(claim.kinds & bit))
            continue;
        claim.kinds &= ~bit;
        cuts.append({ claim.owner, bit });
    }
    if (cuts.isEmpty())
        return;
    m_claims.removeIf([](const Claim &claim) { return claim.kinds == 0; });
    Q_EMIT changed();
    for (const auto &[owner, kinds] : std::as_const(cuts))
        Q_EMIT claimCut(owner, kinds);
}

QCoro::Task<std::optional<QString>> KeepAwakeLedger::settle(qint64 kinds)
{
    QPointer<KeepAwakeLedger> self(this);
    std::optional<QString> failure;
    for (const AssertionKind kind : allAssertionKinds) {
        if (!(kinds & assertionBit(kind)))
            continue;
        const std::optional<QString> result = co_await settleKind(kind);
        if (!self)
            co_return endingText();
        if (result && !failure)
            failure = result;
    }
    co_return failure;
}

QCoro::Task<std::optional<QString>> KeepAwakeLedger::settleKind(AssertionKind kind)
{
    QPointer<KeepAwakeLedger> self(this);
    ++m_settling.at(size_t(kind));
    std::optional<QString> failure;
    // The wish is read again after every answer: a change made while the
    // controller was busy is carried out before this returns.
    for (;;) {
        const QPointer<PowerToggling> power = m_power;
        if (!power) {
            failure = endingText();
            break;
        }
        const bool wanted = wants(kind);
        if (power->isAskedFor(kind) == wanted)
            break;
        const auto result = co_await power->setEnabled(wanted, kind);
        if (!self)
            co_return endingText();
        if (!result) {
            qCWarning(lcLedger, "Cannot turn kind %lld %s: %s", rawValue(kind), wanted ? "on" : "off",
                qUtf8Printable(result.error()));
            // Only a kind that should be held and is not is a failure of the
            // claim; one that could not be released stays held until the
            // next change asks again.
            if (wanted)
                failure = result.error();
            break;
        }
    }
    --m_settling.at(size_t(kind));
    if (const QPointer<PowerToggling> power = m_power)
        m_holding.at(size_t(kind)) = power->isAskedFor(kind);
    if (!isBusy())
        Q_EMIT caughtUp();
    co_return failure;
}

void KeepAwakeLedger::powerChanged()
{
    // Only the ledger asks the controller, so a kind it had held, found off
    // while no change of ours is under way, was lost: nothing holds it and
    // nothing will. Its claims end, as at the user's switch, rather than be
    // listed over a machine that may sleep.
    const QPointer<PowerToggling> power = m_power;
    if (!power)
        return;
    for (const AssertionKind kind : allAssertionKinds) {
        if (m_settling.at(size_t(kind)) != 0 || !m_holding.at(size_t(kind)) || power->isAskedFor(kind))
            continue;
        m_holding.at(size_t(kind)) = false;
        if (wants(kind)) {
            qCWarning(lcLedger, "Kind %lld was lost: its claims end", rawValue(kind));
            cut(kind);
        }
    }
}
