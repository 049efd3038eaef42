#include "PmsetCommand.h"

#include <QRegularExpression>

QStringList PmsetCommand::readArguments()
{
    return { QStringLiteral("-g") };
}

QStringList PmsetCommand::writeArguments(bool disabled)
{
    return { QStringLiteral("-a"), QStringLiteral("disablesleep"),
        disabled ? QStringLiteral("1") : QStringLiteral("0") };
}

static bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

QList<QStringView> PmsetCommand::lines(QStringView text)
{
    // Splitting at each break character and dropping empty pieces treats
    // CR LF as one break for free.
    QList<QStringView> result;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isLineBreak(text[i])) {
            if (i > start)
                result.append(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    return result;
}

bool PmsetCommand::sleepDisabled(QStringView listing)
{
    static const QRegularExpression whitespace(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    for (const QStringView line : lines(listing)) {
        const auto fields = line.split(whitespace, Qt::SkipEmptyParts);
        if (!fields.isEmpty() && fields.first() == u"SleepDisabled")
            return fields.last() == u"1";
    }
    return false;
}
