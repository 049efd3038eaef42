#include "TriggerOptions.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cmath>

namespace TriggerOptions {

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("PowerCore", text);
}

constexpr qint64 longestSettle = 86400;

} // namespace

Expected<qint64, QString> parseRate(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,12}(?:\\.\\d{1,3})?)\\s*([kmg]?)(?:b(?:/s)?)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return Unexpected(translated("잘못된 전송 속도입니다: \"%1\" (예: 100k, 1M)").arg(text));
    const QString unit = match.captured(2).toLower();
    const double scale = unit == u"k" ? 1e3 : unit == u"m" ? 1e6 : unit == u"g" ? 1e9 : 1.0;
    const double rate = std::round(match.captured(1).toDouble() * scale);
    if (rate < 1)
        return Unexpected(translated("전송 속도는 0보다 커야 합니다: \"%1\"").arg(text));
    if (rate > 1e12)
        return Unexpected(translated("전송 속도가 너무 큽니다: \"%1\"").arg(text));
    return qint64(rate);
}

Expected<qint64, QString> parsePercent(const QString &text)
{
    QString number = text.trimmed();
    if (number.endsWith(QLatin1Char('%')))
        number.chop(1);
    bool isNumber = false;
    const int percent = number.toInt(&isNumber);
    if (!isNumber || percent < 1 || percent > 100)
        return Unexpected(translated("CPU 사용량은 1부터 100까지의 퍼센트입니다: \"%1\"").arg(text));
    return qint64(percent);
}

Expected<qint64, QString> parseSettle(const QString &text)
{
    static const QRegularExpression units(QStringLiteral("^(?:(\\d{1,5})h)?(?:(\\d{1,7})m)?(?:(\\d{1,7})s)?$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression bare(QStringLiteral("^\\d{1,7}$"));
    const QString trimmed = text.trimmed();
    qint64 seconds = 0;
    if (bare.match(trimmed).hasMatch()) {
        seconds = trimmed.toLongLong();
    } else {
        const QRegularExpressionMatch match = units.match(trimmed);
        if (trimmed.isEmpty() || !match.hasMatch())
            return Unexpected(translated("잘못된 시간 길이입니다: \"%1\" (예: 30s, 2m, 1h)").arg(text));
        seconds = match.captured(1).toLongLong() * 3600 + match.captured(2).toLongLong() * 60
            + match.captured(3).toLongLong();
    }
    if (seconds <= 0)
        return Unexpected(translated("시간 길이는 0보다 길어야 합니다: \"%1\"").arg(text));
    if (seconds > longestSettle)
        return Unexpected(translated("시간 길이는 하루를 넘을 수 없습니다: \"%1\"").arg(text));
    return seconds;
}

QString rateText(qint64 bytesPerSecond)
{
    // The largest unit that shows it exactly, with up to three decimals.
    const std::initializer_list<std::pair<qint64, char>> units{ { 1'000'000'000, 'G' }, { 1'000'000, 'M' },
        { 1'000, 'k' } };
    for (const auto &[unit, suffix] : units) {
        if (bytesPerSecond < unit || (bytesPerSecond * 1000) % unit != 0)
            continue;
        QString number = QString::number(double(bytesPerSecond) / double(unit), 'f', 3);
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(QLatin1Char('.')))
            number.chop(1);
        return number + QLatin1Char(suffix);
    }
    return QString::number(bytesPerSecond);
}

QString settleText(qint64 seconds)
{
    QString text;
    if (seconds >= 3600)
        text += QStringLiteral("%1h").arg(seconds / 3600);
    if (seconds % 3600 >= 60)
        text += QStringLiteral("%1m").arg(seconds % 3600 / 60);
    if (seconds % 60 != 0 || seconds == 0)
        text += QStringLiteral("%1s").arg(seconds % 60);
    return text;
}

QVariantMap fromStored(const QVariantMap &stored)
{
    static const QRegularExpression whole(QStringLiteral("^-?\\d{1,18}$"));
    QVariantMap options;
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        const QVariant &value = it.value();
        if (value.typeId() == QMetaType::QString && whole.match(value.toString()).hasMatch())
            options.insert(it.key(), value.toString().toLongLong());
        else
            options.insert(it.key(), value);
    }
    return options;
}

QString optionsText(const QVariantMap &options)
{
    QStringList parts;
    bool isNumber = false;
    if (const qint64 net = options.value(netKey()).toLongLong(&isNumber); isNumber)
        parts.append(QStringLiteral("net %1").arg(rateText(net)));
    if (const qint64 cpu = options.value(cpuKey()).toLongLong(&isNumber); isNumber)
        parts.append(QStringLiteral("cpu %1%").arg(cpu));
    if (const qint64 settle = options.value(settleKey()).toLongLong(&isNumber); isNumber)
        parts.append(QStringLiteral("settle %1").arg(settleText(settle)));
    if (options.contains(scheduleKey()))
        parts.append(QStringLiteral("\"%1\"").arg(options.value(scheduleKey()).toString()));
    // Options of a trigger not named above, as they are.
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (it.key() != netKey() && it.key() != cpuKey() && it.key() != settleKey() && it.key() != scheduleKey())
            parts.append(QStringLiteral("%1 %2").arg(it.key(), it.value().toString()));
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace TriggerOptions
