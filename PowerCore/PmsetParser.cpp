#include "PmsetParser.h"

#include "PmsetCommand.h"

#include <QRegularExpression>

// Blanks and tabs, not line breaks (those are gone after the split): the
// Unicode space separators plus the horizontal tab.
static bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

static QStringView trimmedBlanks(QStringView line)
{
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && isBlank(line[begin]))
        ++begin;
    while (end > begin && isBlank(line[end - 1]))
        --end;
    return line.sliced(begin, end - begin);
}

QList<PowerSetting> PmsetParser::parse(QStringView listing)
{
    // A name (shortest first), blanks, then one token optionally followed by
    // blanks and a parenthesised remark; the match must cover the whole line.
    static const QRegularExpression settingLine(
        QRegularExpression::anchoredPattern(QStringLiteral("(.+?)\\s+(\\S+(?:\\s+\\(.*\\))?)")),
        QRegularExpression::UseUnicodePropertiesOption);

    QList<PowerSetting> settings;
    std::optional<QString> section;
    for (const QStringView rawLine : PmsetCommand::lines(listing)) {
        const QStringView line = trimmedBlanks(rawLine);
        if (line.isEmpty())
            continue;
        if (line.endsWith(u':')) {
            section = line.chopped(1).toString();
            continue;
        }
        // A QString, not the view: match(QStringView) is deprecated from Qt 6.8, and its
        // replacement matchView() is not in Qt 6.4.
        const QRegularExpressionMatch match = settingLine.match(line.toString());
        if (match.hasMatch())
            settings.append({ section, match.captured(1), match.captured(2) });
        else
            settings.append({ section, line.toString(), QString() });
    }
    return settings;
}
