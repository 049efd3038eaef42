#pragma once

#include "PowerControlling.h"
#include "PowerToggling.h"

#include <QMap>

#include <functional>
#include <memory>

// The single owner of this process's assertions: at most one per kind, and
// the start of the current awake period. Lives on the main thread.
//
// Destroying a controller does not release what it holds; its owner calls
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
    bool isEnabled(AssertionKind kind) const override { return m_assertions.contains(kind); }
    QCoro::Task<Expected<void, QString>> setEnabled(bool enabled, AssertionKind kind) override;
    void reconnect() override { }

    // The synchronous toggle behind setEnabled(): creates or releases the
    // kind's assertion and emits didChange() before it returns, or changes
    // nothing and emits nothing when the backend refuses.
    Expected<void, PowerError> setEnabledNow(bool enabled, AssertionKind kind);

    // Releases every kind in order; a refused release leaves that kind held
    // and does not stop the next.
    void releaseAll();

private:
    std::shared_ptr<PowerControlling> m_control;
    Clock m_now;
    QMap<AssertionKind, quint32> m_assertions;
    std::optional<QDateTime> m_activeSince;
};
