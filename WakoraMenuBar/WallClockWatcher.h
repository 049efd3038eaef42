#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Tells when the wall clock is set (by hand, by NTP stepping it, or a time
// zone's clock change that moves it): a timerfd on CLOCK_REALTIME armed with
// TFD_TIMER_CANCEL_ON_SET for a moment that never comes, which the kernel
// wakes only when the clock is set. Nothing is polled.
class WallClockWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit WallClockWatcher(QObject *parent = nullptr);
    ~WallClockWatcher() override;

    bool isWatching() const { return m_fd >= 0; }

Q_SIGNALS:
    void clockSet();

private:
    bool arm();
    void readable();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
