#include "AgentHandoverState.h"

#include "JsonInteger.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool isKindSet(qint64 kinds)
{
    return kinds >= 0 && kinds <= 3;
}

} // namespace

QByteArray AgentHandoverState::toJson() const
{
    QJsonObject object{
        { QStringLiteral("version"), formatVersion },
        { QStringLiteral("switch"), switchKinds },
        { QStringLiteral("lidClosedMode"), lidClosedMode },
    };
    if (timedSession) {
        QJsonObject session{
            { QStringLiteral("kinds"), timedSession->kinds },
            { QStringLiteral("endsAt"), timedSession->endsAt.toUTC().toString(Qt::ISODateWithMs) },
        };
        if (timedSession->deadlineSinceBoot)
            session.insert(QStringLiteral("deadlineSinceBootMs"), qint64(timedSession->deadlineSinceBoot->count()));
        if (timedSession->thenSuspend)
            session.insert(QStringLiteral("thenSuspend"), true);
        object.insert(QStringLiteral("timedSession"), session);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<AgentHandoverState> AgentHandoverState::fromJson(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (jsonInteger(object.value(u"version")) != formatVersion)
        return std::nullopt;

    AgentHandoverState state;
    const auto switchKinds = jsonInteger(object.value(u"switch"));
    if (!switchKinds || !isKindSet(*switchKinds))
        return std::nullopt;
    state.switchKinds = *switchKinds;
    const QJsonValue lid = object.value(u"lidClosedMode");
    if (!lid.isBool())
        return std::nullopt;
    state.lidClosedMode = lid.toBool();

    const QJsonValue session = object.value(u"timedSession");
    if (session.isUndefined())
        return state;
    if (!session.isObject())
        return std::nullopt;
    const QJsonObject timed = session.toObject();
    const auto kinds = jsonInteger(timed.value(u"kinds"));
    const QDateTime endsAt = QDateTime::fromString(timed.value(u"endsAt").toString(), Qt::ISODateWithMs);
    if (!kinds || *kinds == 0 || !isKindSet(*kinds) || !endsAt.isValid())
        return std::nullopt;
    TimedSession restored{ *kinds, endsAt.toUTC(), std::nullopt, false };
    if (const QJsonValue thenSuspend = timed.value(u"thenSuspend"); !thenSuspend.isUndefined()) {
        if (!thenSuspend.isBool())
            return std::nullopt;
        restored.thenSuspend = thenSuspend.toBool();
    }
    if (const QJsonValue deadline = timed.value(u"deadlineSinceBootMs"); !deadline.isUndefined()) {
        const auto milliseconds = jsonInteger(deadline);
        if (!milliseconds || *milliseconds < 0)
            return std::nullopt;
        restored.deadlineSinceBoot = std::chrono::milliseconds(*milliseconds);
    }
    state.timedSession = restored;
    return state;
}
