#include "PowerSettingRow.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>

#include <optional>

namespace {

enum class Kind { minutes, onOff };

struct Key {
    const char16_t *name;
    Kind kind;
    const char *title;
    const char *help;
};

const Key keys[] = {
    { u"displaysleep", Kind::minutes, "화면 끄기", "화면이 잠들기까지의 시간입니다." },
    { u"sleep", Kind::minutes, "Mac 잠자기", "Mac이 잠들기까지의 시간입니다." },
    { u"disksleep", Kind::minutes, "디스크 잠자기", "디스크가 정지하기까지의 시간입니다." },
    { u"powernap", Kind::onOff, "Power Nap", "이 Mac의 Power Nap 사용 여부입니다." },
    { u"womp", Kind::onOff, "네트워크로 깨우기", "네트워크 접근 시 깨우기 사용 여부입니다." },
};

QString tr(const char *text)
{
    return QCoreApplication::translate("WakoraUI", text);
}

// The value's first blank-separated token as a decimal number, if it is one
// and not negative.
std::optional<qint64> leadingNumber(const QString &value)
{
    const QStringList tokens = value.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (tokens.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 number = tokens.first().toLongLong(&ok, 10);
    if (!ok || number < 0)
        return std::nullopt;
    return number;
}

std::optional<QString> valueText(Kind kind, qint64 number)
{
    switch (kind) {
    case Kind::minutes:
        return number > 0 ? tr("%1분 후").arg(number) : tr("안 함");
    case Kind::onOff:
        if (number == 1)
            return tr("켜짐");
        if (number == 0)
            return tr("꺼짐");
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

QList<PowerSettingRow> PowerSettingRow::rows(const QList<PowerSetting> &settings)
{
    QList<PowerSettingRow> rows;
    for (const Key &key : keys) {
        const QString name = QString::fromUtf16(key.name);
        const auto setting = std::find_if(
            settings.cbegin(), settings.cend(), [&name](const PowerSetting &setting) { return setting.name == name; });
        if (setting == settings.cend())
            continue;
        const std::optional<qint64> number = leadingNumber(setting->value);
        if (!number)
            continue;
        const std::optional<QString> value = valueText(key.kind, *number);
        if (!value)
            continue;
        // "Power Nap" is a product name and stays as it is.
        const QString title = name == u"powernap" ? QString::fromUtf8(key.title) : tr(key.title);
        rows.append({ title, *value, tr(key.help) });
    }
    return rows;
}
