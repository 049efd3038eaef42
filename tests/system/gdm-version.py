#!/usr/bin/python3
# Answers GDM's org.gnome.DisplayManager.Manager.Version on the system bus,
# and nothing else. gnome-shell builds its screen shield (the screensaver,
# and with it gsd-power's blanking) only when a display manager that can
# lock answers this; the desktop tests start GNOME without GDM.
from gi.repository import Gio, GLib

INTERFACE = Gio.DBusNodeInfo.new_for_xml(
    """<node><interface name="org.gnome.DisplayManager.Manager">
    <property name="Version" type="s" access="read"/></interface></node>"""
).interfaces[0]


def get_property(connection, sender, path, interface, name):
    return GLib.Variant("s", "48.0")


def bus_acquired(connection, name):
    connection.register_object("/org/gnome/DisplayManager/Manager", INTERFACE, None, get_property, None)


Gio.bus_own_name(Gio.BusType.SYSTEM, "org.gnome.DisplayManager", Gio.BusNameOwnerFlags.NONE, bus_acquired, None, None)
GLib.MainLoop().run()
