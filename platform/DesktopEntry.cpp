#include "DesktopEntry.h"

#include <QSet>

namespace {

// The escapes of string values: \s \n \t \r \\.
QString unescapeValue(QStringView value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype index = 0; index < value.size(); ++index) {
        const QChar c = value.at(index);
        if (c != u'\\' || index + 1 == value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++index);
        switch (next.unicode()) {
        case 's':
            result.append(u' ');
            break;
        case 'n':
            result.append(u'\n');
            break;
        case 't':
            result.append(u'\t');
            break;
        case 'r':
            result.append(u'\r');
            break;
        case '\\':
            result.append(u'\\');
            break;
        default:
            // Not a value escape (Exec has escapes of its own): keep both.
            result.append(c);
            result.append(next);
        }
    }
    return result;
}

bool booleanValue(const QString &value)
{
    return value == u"true" || value == u"1";
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::parse(const QByteArray &text)
{
    DesktopEntry entry;
    bool inGroup = false;
    bool sawGroup = false;
    QSet<QString> seen;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (sawGroup && inGroup)
                break; // the group ends at the next one
            inGroup = line == u"[Desktop Entry]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (seen.contains(key))
            continue; // a repeated key is invalid; the first one stands
        seen.insert(key);
        const QString value = unescapeValue(QStringView(line).mid(equals + 1).trimmed());

        if (key == u"Type")
            entry.type = value;
        else if (key == u"Name")
            entry.name = value;
        else if (key.startsWith(u"Name[") && key.endsWith(u']'))
            entry.localizedNames.insert(key.mid(5, key.size() - 6), value);
        else if (key == u"Icon")
            entry.icon = value;
        else if (key == u"Exec")
            entry.exec = value;
        else if (key == u"TryExec")
            entry.tryExec = value;
        else if (key == u"StartupWMClass")
            entry.startupWMClass = value;
        else if (key == u"X-Flatpak")
            entry.flatpak = value;
        else if (key == u"Terminal")
            entry.terminal = booleanValue(value);
        else if (key == u"NoDisplay")
            entry.noDisplay = booleanValue(value);
        else if (key == u"Hidden")
            entry.hidden = booleanValue(value);
    }
    if (!sawGroup)
        return std::nullopt;
    return entry;
}

QString DesktopEntry::localizedName(const QLocale &locale) const
{
    if (!localizedNames.isEmpty() && locale.language() != QLocale::C) {
        const QString full = locale.name(); // "ko_KR"
        const QString language = full.section(u'_', 0, 0);
        for (const QString &candidate : { full, language }) {
            const auto found = localizedNames.constFind(candidate);
            if (found != localizedNames.cend() && !found->isEmpty())
                return *found;
        }
    }
    return name;
}

bool DesktopEntry::isVisibleApplication() const
{
    return type == u"Application" && !noDisplay && !hidden;
}

QString DesktopEntry::program() const
{
    const QStringList arguments = execArguments(exec);
    qsizetype index = 0;
    if (index < arguments.size() && (arguments.at(index) == u"env" || arguments.at(index).endsWith(u"/env"))) {
        ++index;
        while (index < arguments.size() && (arguments.at(index).contains(u'=') || arguments.at(index).startsWith(u'-')))
            ++index;
    }
    return index < arguments.size() ? arguments.at(index) : QString();
}

QStringList DesktopEntry::execArguments(const QString &exec)
{
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype index = 0; index < exec.size(); ++index) {
        const QChar c = exec.at(index);
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\' && index + 1 < exec.size()) {
                current.append(exec.at(++index));
            } else {
                current.append(c);
            }
        } else if (c == u'"') {
            quoted = true;
            inArgument = true;
        } else if (c == u' ' || c == u'\t') {
            if (inArgument)
                arguments.append(current);
            current.clear();
            inArgument = false;
        } else {
            current.append(c);
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.append(current);
    return arguments;
}
