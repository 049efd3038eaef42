#include "WallClockWatcher.h"

#include <QLoggingCategory>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <sys/timerfd.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWallClock, "com.quorvel.WakoraApp.MenuBar.WallClock")

WallClockWatcher::WallClockWatcher(QObject *parent)
    : QObject(parent)
{
    m_fd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0 || !arm()) {
        qCInfo(lcWallClock, "Not following the wall clock: %s", std::strerror(errno));
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &WallClockWatcher::readable);
}

WallClockWatcher::~WallClockWatcher()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool WallClockWatcher::arm()
{
    // The farthest moment a 64-bit time_t keeps clear of overflow in the kernel.
    itimerspec far{};
    far.it_value.tv_sec = std::time_t(INT64_C(1) << 40);
    return timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &far, nullptr) == 0;
}

void WallClockWatcher::readable()
{
    std::uint64_t expirations = 0;
    const ssize_t got = ::read(m_fd, &expirations, sizeof expirations);
    if (got < 0 && errno == ECANCELED) {
        qCInfo(lcWallClock, "The wall clock was set");
        arm();
        Q_EMIT clockSet();
    } else if (got < 0 && errno != EAGAIN) {
        qCWarning(lcWallClock, "Reading the wall clock's timer failed: %s", std::strerror(errno));
    }
}
