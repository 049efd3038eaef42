#include "UsageStore.h"

#include "JsonInteger.h"
#include "ReferenceDate.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

Q_LOGGING_CATEGORY(lcUsageStore, "com.quorvel.WakoraApp.UsageStore")

// An optional point in time: absent for a missing key or null, a failure for
// anything that is not a usable number.
Expected<std::optional<QDateTime>, QString> optionalTime(const QJsonObject &object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::optional<QDateTime>();
    const auto time = value.isDouble() ? ReferenceDate::dateFromReferenceSeconds(value.toDouble()) : std::nullopt;
    if (!time)
        return Unexpected(QStringLiteral("\"%1\" is not a point in time").arg(key));
    return std::optional<QDateTime>(*time);
}

} // namespace

QByteArray UsageStore::Contents::toJson() const
{
    QJsonArray sessionArray;
    for (const Session &session : sessions) {
        QJsonObject object{ { QStringLiteral("start"), ReferenceDate::secondsSinceReferenceDate(session.start) } };
        if (session.end)
            object.insert(QStringLiteral("end"), ReferenceDate::secondsSinceReferenceDate(*session.end));
        sessionArray.append(object);
    }
    QJsonArray minuteArray;
    for (auto day = appMinutes.cbegin(); day != appMinutes.cend(); ++day) {
        QJsonObject names;
        for (auto app = day.value().cbegin(); app != day.value().cend(); ++app)
            names.insert(app.key(), app.value());
        minuteArray.append(ReferenceDate::secondsSinceReferenceDate(day.key()));
        minuteArray.append(names);
    }
    QJsonObject object{
        { QStringLiteral("sessions"), sessionArray },
        { QStringLiteral("appMinutes"), minuteArray },
    };
    if (lastSeen)
        object.insert(QStringLiteral("lastSeen"), ReferenceDate::secondsSinceReferenceDate(*lastSeen));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Expected<UsageStore::Contents, QString> UsageStore::Contents::fromJson(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Unexpected(QStringLiteral("not JSON: %1").arg(parseError.errorString()));
    if (!document.isObject())
        return Unexpected(QStringLiteral("not a JSON object"));
    const QJsonObject object = document.object();
    const QJsonValue sessionsValue = object.value(QLatin1String("sessions"));
    const QJsonValue minutesValue = object.value(QLatin1String("appMinutes"));
    if (!sessionsValue.isArray())
        return Unexpected(QStringLiteral("\"sessions\" is not an array"));
    if (!minutesValue.isArray())
        return Unexpected(QStringLiteral("\"appMinutes\" is not an array"));

    Contents contents;
    const QJsonArray sessionArray = sessionsValue.toArray();
    contents.sessions.reserve(sessionArray.size());
    for (const QJsonValue &entry : sessionArray) {
        if (!entry.isObject())
            return Unexpected(QStringLiteral("a session is not an object"));
        const QJsonObject session = entry.toObject();
        const QJsonValue startValue = session.value(QLatin1String("start"));
        const auto start
            = startValue.isDouble() ? ReferenceDate::dateFromReferenceSeconds(startValue.toDouble()) : std::nullopt;
        if (!start)
            return Unexpected(QStringLiteral("a session has no usable \"start\""));
        const auto end = optionalTime(session, QLatin1String("end"));
        if (!end)
            return Unexpected(end.error());
        contents.sessions.append(Session{ *start, end.value() });
    }

    const QJsonArray minuteArray = minutesValue.toArray();
    if (minuteArray.size() % 2 != 0)
        return Unexpected(QStringLiteral("\"appMinutes\" has an odd length"));
    for (qsizetype index = 0; index < minuteArray.size(); index += 2) {
        const QJsonValue dayValue = minuteArray.at(index);
        const QJsonValue namesValue = minuteArray.at(index + 1);
        const auto day
            = dayValue.isDouble() ? ReferenceDate::dateFromReferenceSeconds(dayValue.toDouble()) : std::nullopt;
        if (!day)
            return Unexpected(QStringLiteral("an \"appMinutes\" key is not a point in time"));
        if (!namesValue.isObject())
            return Unexpected(QStringLiteral("an \"appMinutes\" value is not an object"));
        QMap<QString, qint64> names;
        const QJsonObject nameObject = namesValue.toObject();
        for (auto app = nameObject.constBegin(); app != nameObject.constEnd(); ++app) {
            const auto minutes = jsonInteger(app.value());
            if (!minutes)
                return Unexpected(QStringLiteral("minutes of \"%1\" are not an integer").arg(app.key()));
            names.insert(app.key(), *minutes);
        }
        contents.appMinutes.insert(*day, names);
    }

    const auto lastSeen = optionalTime(object, QLatin1String("lastSeen"));
    if (!lastSeen)
        return Unexpected(lastSeen.error());
    contents.lastSeen = lastSeen.value();
    return contents;
}

QString UsageStore::defaultPath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return base + QStringLiteral("/Wakora/usage.json");
}

QString UsageStore::asidePath(const QString &path)
{
    return path + QStringLiteral(".corrupt");
}

UsageStore::UsageStore(QString path, Clock now, QTimeZone timeZone, UsageWriter::Options writer)
    : m_path(std::move(path))
    , m_now(std::move(now))
    , m_timeZone(std::move(timeZone))
    , m_writer(m_path.isEmpty() ? nullptr : std::make_unique<UsageWriter>(m_path, std::move(writer)))
{
    load();
}

UsageStore::~UsageStore() = default;

void UsageStore::load()
{
    if (!m_path.isEmpty()) {
        QFile file(m_path);
        if (file.exists()) {
            // A file we cannot read or decode is moved aside rather than
            // overwritten by the next save, so nothing in it is lost.
            std::optional<QString> problem;
            if (!file.open(QIODevice::ReadOnly))
                problem = file.errorString();
            else if (file.size() > maximumFileSize)
                problem = QStringLiteral("%1 bytes is too large").arg(file.size());
            else {
                const QByteArray bytes = file.readAll();
                if (file.error() != QFileDevice::NoError)
                    problem = file.errorString();
                else if (auto decoded = Contents::fromJson(bytes))
                    m_contents = std::move(decoded).value();
                else
                    problem = decoded.error();
            }
            file.close();
            if (problem) {
                qCWarning(lcUsageStore, "Setting aside %s: %s", qUtf8Printable(m_path), qUtf8Printable(*problem));
                setAside();
            }
        }
    }
    closeInterruptedSessions();
    prune(m_now());
    save();
}

void UsageStore::setAside() const
{
    // Failures are ignored: the history starts over either way.
    const QString aside = asidePath(m_path);
    QFile::remove(aside);
    QFile::rename(m_path, aside);
}

void UsageStore::closeInterruptedSessions()
{
    auto &sessions = m_contents.sessions;
    for (qsizetype index = 0; index < sessions.size(); ++index) {
        Session &session = sessions[index];
        if (session.end)
            continue;
        // The last session was running when an earlier run ended: it ends when
        // that run last recorded anything. An open session anywhere else can
        // only come from an edited file, and gets no time it cannot prove.
        const bool last = index == sessions.size() - 1;
        if (last && m_contents.lastSeen)
            session.end = std::max(*m_contents.lastSeen, session.start);
        else
            session.end = session.start;
    }
}

void UsageStore::prune(const QDateTime &now)
{
    const QDateTime cutoff = now.addSecs(-retentionSeconds);
    auto &sessions = m_contents.sessions;
    sessions.removeIf([&](const Session &session) { return session.end.value_or(now) < cutoff; });

    const QDateTime cutoffDay = startOfDay(cutoff);
    auto &days = m_contents.appMinutes;
    days.erase(days.begin(), days.lowerBound(cutoffDay));
}

void UsageStore::save()
{
    // The copy shares the containers with m_contents, so handing it over
    // costs no copying; the writer's thread turns it into JSON. Callers never
    // hear of a failed save: the history in memory stays right and the
    // writer tries it again.
    if (m_writer)
        m_writer->submit([contents = m_contents] { return contents.toJson(); });
}

bool UsageStore::flush(std::chrono::milliseconds timeout)
{
    return !m_writer || m_writer->flush(timeout);
}

QDateTime UsageStore::startOfDay(const QDateTime &time) const
{
    return time.toTimeZone(m_timeZone).date().startOfDay(m_timeZone).toUTC();
}

void UsageStore::sessionStarted(const QDateTime &start)
{
    auto &sessions = m_contents.sessions;
    if (!sessions.isEmpty() && !sessions.constLast().end)
        return;
    // A clock set back must not make two sessions count the same time twice.
    const QDateTime begin = sessions.isEmpty() ? start : std::max(start, *sessions.constLast().end);
    sessions.append(Session{ begin, std::nullopt });
    m_contents.lastSeen = begin;
    save();
}

void UsageStore::sessionEnded(const QDateTime &end)
{
    auto &sessions = m_contents.sessions;
    if (sessions.isEmpty() || sessions.constLast().end)
        return;
    Session &session = sessions.last();
    session.end = std::max(end, session.start);
    m_contents.lastSeen = session.end;
    save();
}

void UsageStore::recordSample(const QStringList &apps)
{
    const QDateTime now = m_now();
    QSet<QString> distinct(apps.cbegin(), apps.cend());
    distinct.remove(QString());
    if (!distinct.isEmpty()) {
        QMap<QString, qint64> &today = m_contents.appMinutes[startOfDay(now)];
        for (const QString &name : std::as_const(distinct))
            ++today[name];
    }
    m_contents.lastSeen = now;
    prune(now);
    save();
}

void UsageStore::clear()
{
    const QDateTime now = m_now();
    const bool running = !m_contents.sessions.isEmpty() && !m_contents.sessions.constLast().end;
    m_contents = Contents();
    if (running) {
        m_contents.sessions.append(Session{ now, std::nullopt });
        m_contents.lastSeen = now;
    }
    save();
}

UsageSummary UsageStore::summary(int days, int topApps) const
{
    // A negative count is a caller's mistake; it asks for nothing rather than
    // failing, and a huge one cannot make us build millions of days.
    days = std::clamp(days, 0, maximumSummaryDays);
    topApps = std::max(topApps, 0);

    const QDateTime now = m_now();
    const qint64 nowMSecs = now.toMSecsSinceEpoch();
    std::vector<std::pair<qint64, qint64>> intervals;
    intervals.reserve(size_t(m_contents.sessions.size()));
    for (const Session &session : m_contents.sessions)
        intervals.emplace_back(
            session.start.toMSecsSinceEpoch(), session.end ? session.end->toMSecsSinceEpoch() : nowMSecs);

    UsageSummary summary;
    summary.days.reserve(days);
    QMap<QString, qint64> totals;
    const QDate today = now.toTimeZone(m_timeZone).date();
    for (int offset = -(days - 1); offset <= 0 && days > 0; ++offset) {
        const QDate date = today.addDays(offset);
        const QDateTime dayStart = date.isValid() ? date.startOfDay(m_timeZone) : QDateTime();
        if (!dayStart.isValid())
            continue;
        const QDateTime dayEnd = date.addDays(1).startOfDay(m_timeZone);
        double seconds = 0;
        if (dayEnd.isValid()) {
            const qint64 from = dayStart.toMSecsSinceEpoch();
            const qint64 to = dayEnd.toMSecsSinceEpoch();
            qint64 msecs = 0;
            for (const auto &[start, end] : intervals)
                msecs += std::max<qint64>(0, std::min(to, end) - std::max(from, start));
            seconds = double(msecs) / 1000.0;
        }
        summary.days.append(DailyUsage{ dayStart.toUTC(), seconds });

        const auto minutes = m_contents.appMinutes.constFind(dayStart);
        if (minutes != m_contents.appMinutes.cend()) {
            for (auto app = minutes->cbegin(); app != minutes->cend(); ++app)
                totals[app.key()] += app.value();
        }
    }

    for (auto total = totals.cbegin(); total != totals.cend(); ++total)
        summary.apps.append(AppUsage{ total.key(), total.value() });
    // Ties by name: totals are already in name order and the sort is stable.
    std::stable_sort(summary.apps.begin(), summary.apps.end(),
        [](const AppUsage &left, const AppUsage &right) { return left.minutes > right.minutes; });
    if (summary.apps.size() > topApps)
        summary.apps.resize(topApps);
    return summary;
}
