#pragma once

#include "Expected.h"
#include "TriggerRecord.h"

#include <QCoroTask>
#include <QJsonArray>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class RemoteMenuBar;

// The trigger rules of the wakora command:
//
//   wakora rule media|fullscreen|remote on|off [--display|--no-display]
//   wakora rule busy on|off [--net RATE] [--cpu PERCENT] [--settle LENGTH] [--display|--no-display]
//   wakora rule schedule TEXT|on|off [--display|--no-display]
//
// "on" without --display or --no-display claims the trigger's own kinds
// (media and fullscreen: the display too; the others: system sleep only).
// Options not given keep what is stored; "off" keeps the kinds and options
// for the next "on".
class TriggerCommand
{
public:
    struct Request {
        QString name;
        bool enabled = false;
        std::optional<qint64> kinds; // absent: the trigger's own (on) or as stored (off)
        QVariantMap options; // those given, over the stored ones
    };

    // Whether the word after "rule" names a trigger.
    static bool isTrigger(const QString &word);
    // The arguments after "rule NAME"; the usage error's text when they make no request.
    static Expected<Request, QString> parse(const QString &name, QStringList arguments);
    // Carries the request out through the agent; answers the exit status.
    static QCoro::Task<int> run(RemoteMenuBar &remote, Request request);

    // A line per trigger, for `wakora rule` and `wakora status`:
    // "미디어 재생 중 (media): 켜짐 (디스플레이 포함)".
    static QStringList lines(const QList<TriggerRecord> &triggers);
    static QString line(const TriggerRecord &trigger);
    static QJsonArray json(const QList<TriggerRecord> &triggers);
};
