#pragma once

#include "Expected.h"
#include "Trigger.h"

#include <QStringList>
#include <QVariantMap>

// The triggers' words and options as the user types and reads them, on
// both sides of the bus: the agent stores what the command and the window
// send, and neither needs the triggers themselves to read it.
namespace TriggerOptions {

// Every trigger a command may name, in the order they are shown.
inline QStringList names()
{
    return { QStringLiteral("media"), QStringLiteral("fullscreen"), QStringLiteral("remote"), QStringLiteral("busy"),
        QStringLiteral("schedule") };
}

// The options' keys, as stored and as sent on the bus.
inline QString netKey()
{
    return QStringLiteral("net");
} // bytes per second
inline QString cpuKey()
{
    return QStringLiteral("cpu");
} // percent
inline QString settleKey()
{
    return QStringLiteral("settle");
} // seconds
inline QString scheduleKey()
{
    return QStringLiteral("schedule");
} // the text as typed

// "100k", "1.5M", "2000" (bytes per second; k = 1000), optionally with
// "B" or "B/s" after it.
Expected<qint64, QString> parseRate(const QString &text);
// "50" or "50%": 1 to 100.
Expected<qint64, QString> parsePercent(const QString &text);
// "30s", "2m", "1h", "1m30s", or seconds alone: up to a day.
Expected<qint64, QString> parseSettle(const QString &text);

// The other way: "100k", "1.5M", "900"; "2m", "1m30s", "45s".
QString rateText(qint64 bytesPerSecond);
QString settleText(qint64 seconds);

// Options as read back from a text store, where every value is a text:
// whole numbers become numbers again.
QVariantMap fromStored(const QVariantMap &stored);
// The options in a few words, in a stable order: "net 100k, cpu 50%, settle 2m".
QString optionsText(const QVariantMap &options);

} // namespace TriggerOptions
