'''logind as systemd's own behaves towards a desktop daemon

python-dbusmock's logind template, with what PowerDevil relies on and the
template leaves out:
- Inhibit refuses a mode the logind of that release does not know:
  "block-weak" is taken only with the parameter {"weak": true} (systemd 257
  and later), else InvalidArgs as systemd 252 answers;
- every lock records the caller's own uid and pid, as logind does;
- BlockInhibited and DelayInhibited follow the locks and are announced
  (PropertiesChanged), which is how PowerDevil learns of other programs'
  locks and lists them as its own;
- GetSessionByPID answers the session "auto", which the harness adds, so
  that PowerDevil finds its session.
'''

import os

import dbus
from gi.repository import GLib

# Everything of the stock template; Inhibit below takes its place.
from dbusmock.templates.logind import *  # noqa: F401,F403 pylint: disable=wildcard-import,unused-wildcard-import
from dbusmock.templates import logind as stock
from dbusmock import mockobject


def load(mock, parameters):
    stock.load(mock, parameters)
    mockobject.accepts_weak = bool(parameters.get('weak', False))
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'BlockInhibited': '', 'DelayInhibited': ''}, signature='sv'))
    mock.AddMethod(MAIN_IFACE, 'GetSessionByPID', 'u', 'o',
                   'ret = dbus.ObjectPath("/org/freedesktop/login1/session/auto")')


def _held():
    if not hasattr(mockobject, 'inhibitors'):
        mockobject.inhibitors = []
    return mockobject.inhibitors


def _announce(manager):
    def joined(mode):
        return ':'.join(sorted({item for lock in _held() if lock[3] == mode for item in lock[0].split(':')}))
    manager.UpdateProperties(MAIN_IFACE, {'BlockInhibited': joined('block'), 'DelayInhibited': joined('delay')})


@dbus.service.method(MAIN_IFACE, in_signature='ssss', out_signature='h', sender_keyword='sender')
def Inhibit(self, what, who, why, mode, sender=None):
    modes = ('block', 'delay') + (('block-weak',) if mockobject.accepts_weak else ())
    if mode not in modes:
        raise dbus.exceptions.DBusException(f'Unknown mode {mode}.', name='org.freedesktop.DBus.Error.InvalidArgs')
    bus = dbus.Interface(self.connection.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus'),
                         'org.freedesktop.DBus')
    uid = bus.GetConnectionUnixUser(sender)
    pid = bus.GetConnectionUnixProcessID(sender)
    lock = (what, who, why, mode, dbus.UInt32(uid), dbus.UInt32(pid))
    _held().append(lock)
    _announce(self)

    readable, writable = os.pipe()

    def dropped(fd, _condition):
        os.close(fd)
        _held().remove(lock)
        _announce(self)
        return False

    GLib.unix_fd_add_full(GLib.PRIORITY_HIGH, readable, GLib.IO_HUP, dropped)
    GLib.idle_add(os.close, writable)
    return writable
