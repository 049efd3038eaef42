#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <initializer_list>
#include <memory>

// Turns the given signals (SIGTERM, SIGINT, SIGHUP, SIGUSR1) into a Qt signal on the main thread. The
// handler only writes the signal's number into a pipe (all a handler may
// safely do); a socket notifier reads it. Handlers, unlike a blocked mask,
// are not inherited across exec, so programs we start see signals normally.
// One watcher per process.
class UnixSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignalWatcher(std::initializer_list<int> signals, QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

Q_SIGNALS:
    void received(int signal);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};
