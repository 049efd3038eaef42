#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

#include <memory>

class QDBusServiceWatcher;
class QTemporaryFile;

// Whether the window in front is fullscreen, as KWin tells it on Plasma's
// Wayland session, where no ordinary client may look at other clients'
// windows. KWin runs scripts for those who ask over its D-Bus scripting
// interface: this loads a small one that follows the active window and its
// fullScreen property inside KWin, and calls back on the session bus
// (Report) whenever either changes. Nothing is asked again: KWin reports.
//
// The script calls this connection's unique name and is loaded under a
// plugin name made of it, so that two agents for a moment side by side (an
// upgrade's hand-over) never unload or hear each other's. One left behind
// by an agent that was killed calls a name nobody owns until KWin ends.
// Reports from anyone but KWin are refused. When KWin leaves the bus
// nothing is fullscreen any more; when it comes back the script is loaded
// into the new one, once its scripting interface is up. Main thread only.
class KWinFullscreenScript : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorvel.WakoraApp.FullscreenReport")

public:
    static constexpr const char *kwinService = "org.kde.KWin";
    static constexpr const char *objectPath = "/com/quorvel/WakoraApp/FullscreenReport";

    explicit KWinFullscreenScript(QDBusConnection sessionBus, QObject *parent = nullptr);
    // Unloads the script from KWin.
    ~KWinFullscreenScript() override;

    // The plugin name the script of the connection with this unique name is loaded under.
    static QString pluginName(const QString &uniqueName);

    // Whether KWin is on the bus (a blocking question to the bus).
    static bool kwinPresent(const QDBusConnection &sessionBus);

    // Registers the report object and loads the script into KWin; failed()
    // says why when it cannot.
    void start();

    // The script KWin runs: it reports to `service` at `path`. It speaks
    // both KWin 5's names (activeClient, clientActivated) and KWin 6's
    // (activeWindow, windowActivated).
    static QString script(const QString &service, const QString &path);

public Q_SLOTS:
    // Called by the script in KWin.
    Q_SCRIPTABLE void Report(bool fullscreen, const QString &title);

Q_SIGNALS:
    void fullscreenChanged(bool fullscreen, const QString &title);
    void failed(const QString &why);

private:
    void kwinOwnerChanged(const QString &service, const QString &oldOwner, const QString &newOwner);
    QCoro::Task<> load(quint64 generation);
    void unload();

    QDBusConnection m_bus;
    std::unique_ptr<QDBusServiceWatcher> m_kwinWatcher;
    std::unique_ptr<QTemporaryFile> m_file;
    QString m_kwinOwner; // the unique name whose reports count
    bool m_registered = false;
    quint64 m_generation = 0; // bumped on every load: a load outrun by KWin's restart gives up
};
