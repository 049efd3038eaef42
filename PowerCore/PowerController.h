#pragma once

#include "PowerControlling.h"
#include "PowerToggling.h"
#include "TurnQueue.h"

#include <QMap>
#include <QSet>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>

// The single owner of this process's assertions: at most one per kind, and
// the start of the current awake period. Lives on the main thread.
//
// Toggles are awaited and take turns, kind by kind: one toggle of a kind runs
// at a time, in the order they were asked for, so two quick clicks never
// create two assertions of a kind, and a slow service holding up one kind
// does not hold up the other.
// An assertion the control reports lost leaves the kind off, announced like
// any other change. One the control reports not held, but keeps asked for,
// reads as off and waiting (isWaiting) until the control holds it again.
//
// Destroying a controller does not release what it holds; its owner awaits
// releaseAll() before the process ends.
class PowerController : public PowerToggling
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    explicit PowerController(std::shared_ptr<PowerControlling> control, Clock now = &QDateTime::currentDateTimeUtc,
        QObject *parent = nullptr);

    bool isAvailable() const override { return true; }
    qint32 ownerPID() const override;
    std::optional<QDateTime> activeSince() const override { return m_activeSince; }
    bool isEnabled(AssertionKind kind) const override
    {
        return m_assertions.contains(kind) && !m_unheld.contains(kind);
    }
    bool isWaiting(AssertionKind kind) const override { return m_unheld.contains(kind); }
    bool displayMayBlank() const override;

    // Decides, for the display kind's assertion, whether the screen may still
    // blank while it is held; without one it never does.
    using BlankingCheck = std::function<bool(quint32 id)>;
    void setBlankingCheck(BlankingCheck check) { m_blankingCheck = std::move(check); }
    QCoro::Task<Expected<void, QString>> setEnabled(bool enabled, AssertionKind kind) override;
    void reconnect() override { }

    // The toggle behind setEnabled(): creates or releases the kind's
    // assertion and emits didChange() once it is done, or changes nothing and
    // emits nothing when the backend refuses.
    QCoro::Task<Expected<void, PowerError>> toggle(bool enabled, AssertionKind kind);

    // Releases every kind in order; a refused release leaves that kind held
    // and does not stop the next.
    QCoro::Task<> releaseAll();

    // The machine goes to sleep (true) or has resumed (false): the awake
    // period ends at the sleep, and the next begins at the resume, so that
    // time asleep is never counted as time kept awake. Announced as a change.
    void setAsleep(bool asleep);

    // Whether a toggle is running or waiting for its turn.
    bool isBusy() const
    {
        return std::any_of(m_turns.cbegin(), m_turns.cend(), [](const TurnQueue &turns) { return turns.isBusy(); });
    }

private:
    void assertionLost(quint32 id);
    void holdChanged(quint32 id, bool held);
    void updateActiveSince();

    std::shared_ptr<PowerControlling> m_control;
    Clock m_now;
    QMap<AssertionKind, quint32> m_assertions; // asked for, held or not
    QSet<AssertionKind> m_unheld; // asked for, but no service holds them now
    BlankingCheck m_blankingCheck;
    bool m_asleep = false;
    std::optional<QDateTime> m_activeSince;
    std::array<TurnQueue, allAssertionKinds.size()> m_turns;
};
