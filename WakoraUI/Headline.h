#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// The main window's header: whether this system keeps the machine awake and
// for how long.
struct Headline {
    QString title;
    std::optional<QString> detail; // the elapsed time, e.g. "1시간 30분째"
    QString symbol; // "sun.max" or "moon.zzz"

    // `since` is when keeping awake began, when known. The elapsed time
    // counts at least one minute, so a fresh start reads "1분째".
    static Headline of(bool isAwake, const std::optional<QDateTime> &since, const QDateTime &now);

    bool operator==(const Headline &) const = default;
};
