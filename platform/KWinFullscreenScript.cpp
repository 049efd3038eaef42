#include "KWinFullscreenScript.h"

#include "DBusCalls.h"

#include <QCoroTimer>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLoggingCategory>
#include <QMetaClassInfo>
#include <QPointer>
#include <QTemporaryFile>

#include <algorithm>

using namespace std::chrono_literals;

Q_LOGGING_CATEGORY(lcKWinFullscreen, "com.quorvel.WakoraApp.KWinFullscreenScript")

namespace {

const QString scriptingPath = QStringLiteral("/Scripting");
const QString scriptingInterface = QStringLiteral("org.kde.kwin.Scripting");
constexpr auto callTimeout = 5s;
constexpr auto scriptingPatience = 60s;
constexpr std::chrono::milliseconds maximumPause = 4s;
const QString unknownObject = QStringLiteral("org.freedesktop.DBus.Error.UnknownObject");

QString reportInterface()
{
    return QString::fromLatin1(
        KWinFullscreenScript::staticMetaObject
            .classInfo(KWinFullscreenScript::staticMetaObject.indexOfClassInfo("D-Bus Interface"))
            .value());
}

QString quoted(const QString &text)
{
    // A JSON string is a JavaScript string literal.
    const QByteArray json = QJsonDocument(QJsonArray{ text }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

QString unavailableText()
{
    return QStringLiteral("KWin이 스크립트를 실행하지 않아 전체 화면 창을 알 수 없습니다");
}

} // namespace

KWinFullscreenScript::KWinFullscreenScript(QDBusConnection sessionBus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(sessionBus))
{ }

KWinFullscreenScript::~KWinFullscreenScript()
{
    unload();
    if (m_registered)
        m_bus.unregisterObject(QString::fromLatin1(objectPath));
}

QString KWinFullscreenScript::pluginName(const QString &uniqueName)
{
    QString name = uniqueName;
    name.replace(QLatin1Char(':'), QString()).replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("wakora-fullscreen-") + name;
}

bool KWinFullscreenScript::kwinPresent(const QDBusConnection &sessionBus)
{
    return sessionBus.isConnected() && sessionBus.interface()->isServiceRegistered(QString::fromLatin1(kwinService));
}

QString KWinFullscreenScript::script(const QString &service, const QString &path)
{
    // Reports only changes of what it tells (whether fullscreen, and the
    // title then), so a window that retitles itself while not fullscreen
    // costs no call.
    return QStringLiteral(R"((function () {
    var service = %1, path = %2, iface = %3;
    var kwin6 = workspace.windowActivated !== undefined;
    var watched = null;
    var told = null;
    function report() {
        var full = !!(watched && watched.fullScreen);
        var title = full ? String(watched.caption || watched.resourceClass || "") : "";
        var now = (full ? "1" : "0") + title;
        if (now === told)
            return;
        told = now;
        callDBus(service, path, iface, "Report", full, title);
    }
    function follow(window) {
        if (watched) {
            try {
                watched.fullScreenChanged.disconnect(report);
                watched.captionChanged.disconnect(report);
            } catch (e) {
            }
        }
        watched = window || null;
        if (watched) {
            watched.fullScreenChanged.connect(report);
            watched.captionChanged.connect(report);
        }
        report();
    }
    (kwin6 ? workspace.windowActivated : workspace.clientActivated).connect(follow);
    follow(kwin6 ? workspace.activeWindow : workspace.activeClient);
})();
)")
        .arg(quoted(service), quoted(path), quoted(reportInterface()));
}

void KWinFullscreenScript::start()
{
    if (!m_bus.isConnected()) {
        Q_EMIT failed(unavailableText());
        return;
    }
    if (!m_registered) {
        m_registered
            = m_bus.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportScriptableSlots);
        if (!m_registered) {
            qCWarning(lcKWinFullscreen, "Cannot register %s on the session bus", objectPath);
            Q_EMIT failed(unavailableText());
            return;
        }
    }
    // The file KWin reads the script from; it stays while the script runs.
    m_file = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/wakora-fullscreen-XXXXXX.js"));
    if (!m_file->open() || m_file->write(script(m_bus.baseService(), QString::fromLatin1(objectPath)).toUtf8()) < 0
        || !m_file->flush()) {
        qCWarning(lcKWinFullscreen) << "Cannot write the KWin script:" << m_file->errorString();
        Q_EMIT failed(unavailableText());
        return;
    }
    m_kwinWatcher = std::make_unique<QDBusServiceWatcher>(
        QString::fromLatin1(kwinService), m_bus, QDBusServiceWatcher::WatchForOwnerChange);
    connect(
        m_kwinWatcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, this, &KWinFullscreenScript::kwinOwnerChanged);
    load(++m_generation);
}

void KWinFullscreenScript::Report(bool fullscreen, const QString &title)
{
    if (!calledFromDBus() || message().service() != m_kwinOwner || m_kwinOwner.isEmpty()) {
        if (calledFromDBus())
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Only KWin reports here"));
        return;
    }
    Q_EMIT fullscreenChanged(fullscreen, fullscreen ? title : QString());
}

void KWinFullscreenScript::kwinOwnerChanged(const QString &service, const QString &oldOwner, const QString &newOwner)
{
    Q_UNUSED(service);
    Q_UNUSED(oldOwner);
    // KWin went (its script with it), or another took its place.
    ++m_generation;
    m_kwinOwner.clear();
    Q_EMIT fullscreenChanged(false, QString());
    if (!newOwner.isEmpty())
        load(++m_generation);
}

QCoro::Task<> KWinFullscreenScript::load(quint64 generation)
{
    QPointer<KWinFullscreenScript> self(this);
    const QDBusConnection bus = m_bus;
    const QString service = QString::fromLatin1(kwinService);
    const QString plugin = pluginName(bus.baseService());
    const QString file = m_file->fileName();

    QDBusMessage owner = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("GetNameOwner"));
    owner << service;
    const QDBusMessage ownerReply = co_await DBusCalls::call(bus, owner, callTimeout);
    if (!self || generation != self->m_generation)
        co_return;
    if (ownerReply.type() != QDBusMessage::ReplyMessage) {
        Q_EMIT self->failed(QStringLiteral("KWin이 없어 전체 화면 창을 알 수 없습니다"));
        co_return;
    }
    self->m_kwinOwner = ownerReply.arguments().value(0).toString();

    // KWin takes its name before its scripting interface is there (at the
    // session's start, and when it comes back after a crash), so a load
    // asked for at once may find no such object: it is asked again, after
    // 0.25 s and doubling up to 4 s, for as long as KWin may take to start.
    QDBusMessage loaded;
    const QDeadlineTimer patience(scriptingPatience);
    for (auto pause = std::chrono::milliseconds(250);; pause = std::min(pause * 2, maximumPause)) {
        // A script of ours from before KWin's restart, if KWin kept it, goes first.
        QDBusMessage unloadOld = QDBusMessage::createMethodCall(
            service, scriptingPath, scriptingInterface, QStringLiteral("unloadScript"));
        unloadOld << plugin;
        co_await DBusCalls::call(bus, unloadOld, callTimeout);
        if (!self || generation != self->m_generation)
            co_return;

        QDBusMessage loadScript
            = QDBusMessage::createMethodCall(service, scriptingPath, scriptingInterface, QStringLiteral("loadScript"));
        loadScript << file << plugin;
        loaded = co_await DBusCalls::call(bus, loadScript, callTimeout);
        if (!self || generation != self->m_generation)
            co_return;
        if (loaded.errorName() != unknownObject || patience.hasExpired())
            break;
        co_await QCoro::sleepFor(pause);
        if (!self || generation != self->m_generation)
            co_return;
    }
    const int id = loaded.type() == QDBusMessage::ReplyMessage ? loaded.arguments().value(0).toInt() : -1;
    if (id < 0) {
        qCWarning(lcKWinFullscreen) << "KWin did not load the script:" << loaded.errorMessage();
        Q_EMIT self->failed(unavailableText());
        co_return;
    }
    // The script's object: "/Scripting/Script<id>" on later KWins, "/<id>" on 5.27.
    for (const QString &path : { QStringLiteral("/Scripting/Script%1").arg(id), QStringLiteral("/%1").arg(id) }) {
        const QDBusMessage run = QDBusMessage::createMethodCall(
            service, path, QStringLiteral("org.kde.kwin.Script"), QStringLiteral("run"));
        const QDBusMessage ran = co_await DBusCalls::call(bus, run, callTimeout);
        if (!self || generation != self->m_generation)
            co_return;
        if (ran.type() == QDBusMessage::ReplyMessage) {
            qCInfo(lcKWinFullscreen) << "KWin runs the fullscreen script at" << path;
            co_return;
        }
        if (ran.errorName() != unknownObject) {
            qCWarning(lcKWinFullscreen) << "KWin did not run the script:" << ran.errorMessage();
            break;
        }
    }
    Q_EMIT self->failed(unavailableText());
}

void KWinFullscreenScript::unload()
{
    ++m_generation;
    m_kwinWatcher.reset();
    if (m_kwinOwner.isEmpty() || !m_bus.isConnected())
        return;
    // Sent and left: KWin unloads it whether or not anyone waits.
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(kwinService), scriptingPath, scriptingInterface, QStringLiteral("unloadScript"));
    message << pluginName(m_bus.baseService());
    message.setAutoStartService(false);
    m_bus.send(message);
    m_kwinOwner.clear();
}
