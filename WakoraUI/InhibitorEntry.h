#pragma once

#include "FriendlyStatus.h"
#include "ProcessAssertion.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// One holder of the merged list as `wakora status` reports it: which
// process, under which name, what it holds off and why.
struct InhibitorEntry {
    qint32 pid = 0;
    QString name; // the application's name, else the process name; may be empty
    QString blocks; // "sleep", "idle" or "sleep:idle"
    QString reason; // as the holder gave it; empty when none
    bool ours = false; // held by the agent

    bool operator==(const InhibitorEntry &) const = default;

    // What of system sleep and display sleep a type holds off, as "sleep",
    // "idle" or "sleep:idle"; empty for a type that holds off neither (the
    // lid and the power keys, shutting down). The power manager's types
    // count too: one naming "Display" keeps the display on, one naming
    // "SystemSleep" the machine.
    static QString blockedBy(const QString &type);

    // The entries that hold off sleep or the display, in the list's order.
    // Ours are named after the application, as the lookup names any other.
    static QList<InhibitorEntry> fromAssertions(
        const QList<ProcessAssertion> &assertions, qint32 ownerPID, const FriendlyStatus::NameLookup &appName);

    // "잠자기를 막는 중", "화면 꺼짐을 막는 중" or "잠자기와 화면 꺼짐을 막는 중".
    QString blocksText() const;

    // {"pid", "name", "blocks", "reason", "ours"}
    QJsonObject toJson() const;
};
