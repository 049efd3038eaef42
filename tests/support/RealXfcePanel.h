#pragma once

// The real xfce4-panel with one plugin, its status tray (which hosts
// StatusNotifier items and XEmbed icons alike), across the top of the test's
// X server, drawn in the GTK theme asked for; with the real xfconfd holding
// its settings, on MockBuses.
//
//     RealXfcePanel panel;
//     WAKORA_START_OR_SKIP(panel.start(buses, display, QStringLiteral("Adwaita:dark"), share));

#include "DaemonProcess.h"
#include "DesktopHome.h"
#include "PrivateBus.h"
#include "XvfbDisplay.h"

#include <QDir>
#include <QFile>

class RealXfcePanel
{
public:
    static constexpr int height = 32;

    RealXfcePanel() = default;
    RealXfcePanel(const RealXfcePanel &) = delete;
    RealXfcePanel &operator=(const RealXfcePanel &) = delete;
    ~RealXfcePanel() { stop(); }

    // Empty once the panel's tray watches for StatusNotifier items, else why
    // not. It looks icons up in `dataDirectory`'s icons/ too, as it would in
    // an installation's share/.
    QString start(MockBuses &buses, const XvfbDisplay &display, const QString &gtkTheme, const QString &dataDirectory)
    {
        if (!m_home.isValid())
            return QStringLiteral("no temporary directory");
        QDir(m_home.folder(QStringLiteral("config"))).mkpath(QStringLiteral("xfce4/xfconf/xfce-perchannel-xml"));
        QFile settings(m_home.folder(QStringLiteral("config"))
            + QStringLiteral("/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"));
        if (!settings.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write the panel's settings");
        settings.write(QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="%1"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)")
                           .arg(height)
                           .toUtf8());
        settings.close();

        QDBusConnection bus = buses.bus(MockBuses::session).connection();
        QProcessEnvironment environment = m_home.environment(buses, display, QStringLiteral("XFCE"));
        environment.insert(QStringLiteral("GTK_THEME"), gtkTheme);
        environment.insert(QStringLiteral("XDG_DATA_DIRS"),
            dataDirectory + QLatin1Char(':') + qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/share")));
        const QString xfconfd = DaemonProcess::activatedProgram(QStringLiteral("org.xfce.Xfconf"));
        QString why = m_settings.start(xfconfd.isEmpty() ? QStringLiteral("xfconfd") : xfconfd, {}, environment,
            m_home.filePath(QStringLiteral("xfconfd.log")), bus, QStringLiteral("org.xfce.Xfconf"),
            QStringLiteral("xfconf"));
        if (!why.isEmpty())
            return why;
        // No window manager runs here, which the panel waits for unless told not to.
        return m_panel.start(QStringLiteral("xfce4-panel"), { QStringLiteral("--disable-wm-check") }, environment,
            m_home.filePath(QStringLiteral("xfce4-panel.log")), bus, QStringLiteral("org.kde.StatusNotifierWatcher"),
            QStringLiteral("xfce4-panel"));
    }

    void stop()
    {
        m_panel.stop();
        m_settings.stop();
    }

    QString log() { return m_settings.log() + m_panel.log(); }

private:
    DesktopHome m_home;
    DaemonProcess m_settings{ QStringLiteral("xfconfd") };
    DaemonProcess m_panel{ QStringLiteral("xfce4-panel") };
};
