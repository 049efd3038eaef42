#include "ApplicationUnitName.h"

#include <QByteArray>
#include <QStringList>

#include <algorithm>

namespace {

bool isPlain(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_'
        || c == '.';
}

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool allHex(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isHex);
}

// What launchers put after the id so that instances differ: a pid or counter,
// hex, or a UUID with its dashes.
bool isRandom(QStringView text)
{
    if (allHex(text))
        return true;
    const auto groups = text.split(u'-');
    static constexpr qsizetype lengths[] = { 8, 4, 4, 4, 12 };
    if (groups.size() != 5)
        return false;
    for (qsizetype index = 0; index < 5; ++index)
        if (groups.at(index).size() != lengths[index] || !allHex(groups.at(index)))
            return false;
    return true;
}

// Launchers name themselves in one word: "gnome", "flatpak", "KDE".
bool isLauncher(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() < 128 && (c.isLetterOrNumber() || c == u'_');
    });
}

// A name's text between its "-" separators, escaped the one way escape()
// does: launchers differ in what else they escape and in the case of the hex.
QString canonical(QStringView name)
{
    QStringList segments;
    for (const QStringView segment : name.split(u'-'))
        segments.append(ApplicationUnitName::escape(ApplicationUnitName::unescape(segment)));
    return segments.join(u'-');
}

struct Parts {
    QString body; // without "app-" and the type, in canonical escaping
    bool isScope = false;
    bool hasInstance = false; // "@<RANDOM>" before ".service"
};

std::optional<Parts> parts(QStringView unitName)
{
    Parts parts;
    QStringView stem;
    if (unitName.endsWith(u".scope")) {
        stem = unitName.chopped(6);
        parts.isScope = true;
    } else if (unitName.endsWith(u".service")) {
        stem = unitName.chopped(8);
        if (const qsizetype at = stem.indexOf(u'@'); at >= 0) {
            if (at + 1 == stem.size())
                return std::nullopt; // a template, never a running unit
            stem = stem.left(at);
            parts.hasInstance = true;
        }
    } else {
        return std::nullopt;
    }
    if (!stem.startsWith(u"app-") || stem.size() == 4)
        return std::nullopt;
    parts.body = canonical(stem.mid(4));
    return parts;
}

// Whether the body (with or without its launcher) is the id and what may
// follow it in a unit of this type.
bool bodyRuns(const Parts &parts, QStringView body, QStringView id)
{
    if (body == id)
        return !parts.isScope; // scopes always carry a RANDOM
    return !parts.hasInstance && body.size() > id.size() + 1 && body.startsWith(id) && body.at(id.size()) == u'-'
        && isRandom(body.mid(id.size() + 1));
}

} // namespace

QString ApplicationUnitName::escape(QStringView id)
{
    static constexpr char digits[] = "0123456789abcdef";
    QString escaped;
    const QByteArray bytes = id.toUtf8();
    escaped.reserve(bytes.size());
    for (const char c : bytes) {
        if (isPlain(c)) {
            escaped.append(QLatin1Char(c));
        } else {
            const auto byte = static_cast<unsigned char>(c);
            escaped.append(u"\\x");
            escaped.append(QLatin1Char(digits[byte >> 4]));
            escaped.append(QLatin1Char(digits[byte & 0xf]));
        }
    }
    return escaped;
}

QString ApplicationUnitName::unescape(QStringView escaped)
{
    QByteArray bytes;
    bytes.reserve(escaped.size());
    for (qsizetype index = 0; index < escaped.size(); ++index) {
        if (escaped.at(index) == u'\\' && index + 3 < escaped.size() && escaped.at(index + 1) == u'x'
            && allHex(escaped.mid(index + 2, 2))) {
            bytes.append(char(escaped.mid(index + 2, 2).toUInt(nullptr, 16)));
            index += 3;
        } else {
            bytes.append(QStringView(escaped).mid(index, 1).toUtf8());
        }
    }
    return QString::fromUtf8(bytes);
}

bool ApplicationUnitName::runs(QStringView unitName, QStringView desktopEntryId)
{
    if (desktopEntryId.isEmpty())
        return false;
    const auto found = parts(unitName);
    if (!found)
        return false;
    const QString id = escape(desktopEntryId);
    if (bodyRuns(*found, found->body, id))
        return true;
    const qsizetype dash = found->body.indexOf(u'-');
    return dash > 0 && isLauncher(QStringView(found->body).left(dash))
        && bodyRuns(*found, QStringView(found->body).mid(dash + 1), id);
}

std::optional<QString> ApplicationUnitName::flatpakAppId(QStringView unitName)
{
    const auto found = parts(unitName);
    if (!found || !found->isScope || !found->body.startsWith(u"flatpak-"))
        return std::nullopt;
    // Flatpak puts the pid after the id; an id never holds an unescaped dash.
    const qsizetype dash = found->body.lastIndexOf(u'-');
    const QStringView id = QStringView(found->body).mid(8, dash - 8);
    if (dash <= 8 || !isRandom(QStringView(found->body).mid(dash + 1)) || id.contains(u'-'))
        return std::nullopt;
    return unescape(id);
}
