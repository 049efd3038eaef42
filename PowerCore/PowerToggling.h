#pragma once

#include "AssertionKind.h"
#include "Expected.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>

#include <optional>

// What interface code toggles: the agent's own controller, or in the main
// application the remote client of the agent. didChange() is emitted after
// every change of the held kinds; observers re-read what they need.
class PowerToggling : public QObject
{
    Q_OBJECT

public:
    // The name under which the change is announced, whichever process.
    static constexpr const char *didChangeNotification = "PowerController.didChange";

    using QObject::QObject;

    virtual bool isAvailable() const = 0;
    virtual qint32 ownerPID() const = 0;
    virtual std::optional<QDateTime> activeSince() const = 0;
    virtual bool isEnabled(AssertionKind kind) const = 0;
    // Asked for, but no service holds it now: it reads as off, and is held
    // again as soon as a service can.
    virtual bool isWaiting(AssertionKind) const { return false; }
    // On as far as the user and the agent's own sessions are concerned:
    // held, or waiting to be held again.
    bool isAskedFor(AssertionKind kind) const { return isEnabled(kind) || isWaiting(kind); }
    // The display kind is held, but by a service that the desktop may not
    // consult before it blanks the screen.
    virtual bool displayMayBlank() const { return false; }
    // Resolves to the failure's description when the change was refused.
    virtual QCoro::Task<Expected<void, QString>> setEnabled(bool enabled, AssertionKind kind) = 0;
    virtual void reconnect() = 0;

Q_SIGNALS:
    void didChange();
};
