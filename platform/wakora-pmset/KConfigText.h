#pragma once

#include <QByteArrayView>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// A KDE configuration file (powerdevilrc, powermanagementprofilesrc) as
// KConfig reads it: nested groups written "[AC][Display]", "key=value"
// lines, '#' comments, localized entries ("key[de]=") skipped, and "[$i]"
// marking a file, group or entry immutable for the files layered over it.
class KConfigText
{
public:
    static KConfigText parse(QByteArrayView text);

    // Layers a file read later in the cascade (the user's over the system's)
    // over this one: its entries win, except over immutable ones here.
    void overlay(const KConfigText &higher);

    std::optional<QString> value(const QStringList &group, const QString &key) const;
    // True when the group or a group inside it holds an entry, as KConfig sees it.
    bool hasGroup(const QStringList &group) const;
    bool isEmpty() const { return m_entries.isEmpty(); }

private:
    struct Entry {
        QString value;
        bool immutable = false;
    };
    static QString groupKey(const QStringList &group);

    // Keyed by the group path joined with a separator no group name holds.
    QMap<QString, QMap<QString, Entry>> m_entries;
    QStringList m_immutableGroups;
    bool m_immutable = false;
};
