#include "KConfigText.h"

#include <algorithm>

namespace {

constexpr QChar groupSeparator = u'\x1d';

QString unescaped(QStringView value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            result += value[i];
            continue;
        }
        switch (value[++i].unicode()) {
        case 's':
            result += u' ';
            break;
        case 't':
            result += u'\t';
            break;
        case 'n':
            result += u'\n';
            break;
        case 'r':
            result += u'\r';
            break;
        default: // "\\" and anything KConfig keeps as written
            result += value[i];
            break;
        }
    }
    return result;
}

} // namespace

QString KConfigText::groupKey(const QStringList &group)
{
    return group.join(groupSeparator);
}

KConfigText KConfigText::parse(QByteArrayView text)
{
    KConfigText config;
    QStringList group;
    bool groupImmutable = false;
    for (const QString &rawLine : QString::fromUtf8(text).split(u'\n')) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            // "[$i]" alone before any group locks the whole file.
            if (line == u"[$i]" && group.isEmpty()) {
                config.m_immutable = true;
                continue;
            }
            group.clear();
            groupImmutable = false;
            qsizetype at = 0;
            while (at < line.size() && line[at] == u'[') {
                const qsizetype end = line.indexOf(u']', at);
                if (end < 0)
                    break;
                const QString name = line.mid(at + 1, end - at - 1);
                if (name.startsWith(u'$'))
                    groupImmutable = groupImmutable || name.contains(u'i');
                else
                    group.append(name);
                at = end + 1;
            }
            if (groupImmutable)
                config.m_immutableGroups.append(groupKey(group));
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0 || group.isEmpty())
            continue;
        QString key = line.left(equals).trimmed();
        bool entryImmutable = false;
        bool localized = false;
        while (key.endsWith(u']')) {
            const qsizetype open = key.lastIndexOf(u'[');
            if (open < 0)
                break;
            const QString option = key.mid(open + 1, key.size() - open - 2);
            if (option.startsWith(u'$'))
                entryImmutable = entryImmutable || option.contains(u'i');
            else
                localized = true;
            key = key.left(open).trimmed();
        }
        if (localized || key.isEmpty())
            continue;
        config.m_entries[groupKey(group)][key]
            = Entry{ unescaped(QStringView(line).sliced(equals + 1).trimmed()), entryImmutable };
    }
    return config;
}

void KConfigText::overlay(const KConfigText &higher)
{
    if (m_immutable)
        return;
    for (auto group = higher.m_entries.cbegin(); group != higher.m_entries.cend(); ++group) {
        const bool locked
            = std::any_of(m_immutableGroups.cbegin(), m_immutableGroups.cend(), [&](const QString &immutable) {
                  return group.key() == immutable || group.key().startsWith(immutable + groupSeparator);
              });
        if (locked)
            continue;
        QMap<QString, Entry> &entries = m_entries[group.key()];
        for (auto entry = group->cbegin(); entry != group->cend(); ++entry) {
            if (!entries.value(entry.key()).immutable)
                entries[entry.key()] = entry.value();
        }
    }
    m_immutableGroups += higher.m_immutableGroups;
    m_immutable = higher.m_immutable;
}

std::optional<QString> KConfigText::value(const QStringList &group, const QString &key) const
{
    const auto entries = m_entries.constFind(groupKey(group));
    if (entries == m_entries.cend())
        return std::nullopt;
    const auto entry = entries->constFind(key);
    if (entry == entries->cend())
        return std::nullopt;
    return entry->value;
}

bool KConfigText::hasGroup(const QStringList &group) const
{
    const QString key = groupKey(group);
    for (auto entries = m_entries.cbegin(); entries != m_entries.cend(); ++entries) {
        if (!entries->isEmpty() && (entries.key() == key || entries.key().startsWith(key + groupSeparator)))
            return true;
    }
    return false;
}
