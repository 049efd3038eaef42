#include "InhibitorEntry.h"

#include <QCoreApplication>
#include <QStringList>

QString InhibitorEntry::blockedBy(const QString &type)
{
    bool sleep = type.contains(QLatin1String("SystemSleep"), Qt::CaseInsensitive);
    bool idle = type.contains(QLatin1String("Display"), Qt::CaseInsensitive);
    const QStringList items = type.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &item : items) {
        sleep = sleep || item.trimmed() == u"sleep";
        idle = idle || item.trimmed() == u"idle";
    }
    if (sleep && idle)
        return QStringLiteral("sleep:idle");
    if (sleep)
        return QStringLiteral("sleep");
    if (idle)
        return QStringLiteral("idle");
    return QString();
}

QList<InhibitorEntry> InhibitorEntry::fromAssertions(
    const QList<ProcessAssertion> &assertions, qint32 ownerPID, const FriendlyStatus::NameLookup &appName)
{
    QList<InhibitorEntry> entries;
    for (const ProcessAssertion &assertion : assertions) {
        const QString blocks = blockedBy(assertion.type);
        if (blocks.isEmpty())
            continue;
        InhibitorEntry entry;
        entry.pid = assertion.pid;
        entry.blocks = blocks;
        entry.reason = assertion.reason;
        entry.ours = assertion.pid == ownerPID;
        std::optional<QString> name;
        if (appName && !entry.ours)
            name = appName(assertion.pid);
        entry.name = name ? *name : assertion.processName.value_or(QString());
        entries.append(entry);
    }
    return entries;
}

QString InhibitorEntry::blocksText() const
{
    if (blocks == u"sleep:idle")
        return QCoreApplication::translate("WakoraUI", "잠자기와 화면 꺼짐을 막는 중");
    if (blocks == u"idle")
        return QCoreApplication::translate("WakoraUI", "화면 꺼짐을 막는 중");
    return QCoreApplication::translate("WakoraUI", "잠자기를 막는 중");
}

QJsonObject InhibitorEntry::toJson() const
{
    return QJsonObject{ { QStringLiteral("pid"), pid }, { QStringLiteral("name"), name },
        { QStringLiteral("blocks"), blocks }, { QStringLiteral("reason"), reason }, { QStringLiteral("ours"), ours } };
}
