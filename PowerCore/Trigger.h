#pragma once

#include "AssertionKind.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>

// What the user set for one trigger: whether it is on, the kinds it claims
// (a bit set as on the bus; 0 for the trigger's own default) and the
// trigger's own options, as stored:
//   busy:     "net" (bytes per second), "cpu" (percent), "settle" (seconds)
//   schedule: "schedule" (the text as typed: "mon-fri 09:00-18:00")
struct TriggerRule {
    bool enabled = false;
    qint64 kinds = 0;
    QVariantMap options;

    bool operator==(const TriggerRule &) const = default;
};

// Something the agent watches which, while it holds, keeps the machine
// awake through a claim of its own on the ledger: media playing, a window
// fullscreen, a remote login, the machine busy, a schedule. A trigger only
// watches; the agent turns its activity into the claim "trigger:<name>",
// with the subject as the claim's subject.
//
// A trigger watches only between start() and stop(), and costs nothing
// otherwise: no timer, no bus match, no file watch. While it watches it is
// woken by events (signals, property changes, timers at the edges), never
// by polling, unless it says otherwise (busy samples). Main thread only.
class Trigger : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The owner name's tail and the command's word: "media", "fullscreen",
    // "remote", "busy", "schedule".
    virtual QString name() const = 0;
    // The kinds claimed when the rule names none.
    virtual qint64 defaultKinds() const = 0;
    // Why the trigger cannot work on this desktop (absent when it can), in
    // the interface's words: shown in the dialog and `wakora rule`.
    virtual std::optional<QString> unavailable() const { return std::nullopt; }
    // Why the rule's options are wrong (absent when they are right), in the
    // interface's words; checked before a rule is stored.
    virtual std::optional<QString> invalidOptions(const QVariantMap &options) const
    {
        Q_UNUSED(options);
        return std::nullopt;
    }

    // Starts watching with the rule's options (called again with new options
    // while watching: the trigger follows them), or stops. Stopping ends
    // any activity without a signal.
    virtual void start(const QVariantMap &options) = 0;
    virtual void stop() = 0;

    // Whether what the trigger watches holds now, and what about: the
    // player's name, the window's title, "user@host", the schedule's text.
    bool isActive() const { return m_active; }
    const QString &subject() const { return m_subject; }

Q_SIGNALS:
    // isActive() or subject() changed.
    void activeChanged();

protected:
    void setActive(bool active, const QString &subject = {})
    {
        const QString kept = active ? subject : QString();
        if (active == m_active && kept == m_subject)
            return;
        m_active = active;
        m_subject = kept;
        Q_EMIT activeChanged();
    }
    // For stop(): forgets the activity without telling anyone.
    void clearActive()
    {
        m_active = false;
        m_subject.clear();
    }

private:
    bool m_active = false;
    QString m_subject;
};
