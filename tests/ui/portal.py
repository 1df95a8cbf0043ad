#!/usr/bin/python3
# A stand-in desktop portal on the session bus: Settings.Read answers the appearance's
# color-scheme with the number given, and its Set method (org.devicefinder.TestPortal)
# changes it and sends SettingChanged, as a desktop does when the user switches.
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SETTINGS = 'org.freedesktop.portal.Settings'


class Portal(dbus.service.Object):
    def __init__(self, bus, scheme):
        super().__init__(bus, '/org/freedesktop/portal/desktop')
        self.scheme = scheme

    @dbus.service.method(SETTINGS, in_signature='ss', out_signature='v')
    def Read(self, group, key):
        if (group, key) != ('org.freedesktop.appearance', 'color-scheme'):
            raise dbus.exceptions.DBusException('no such setting', name='org.freedesktop.portal.Error.NotFound')
        return dbus.UInt32(self.scheme, variant_level=1)  # a variant in a variant, as the portal sends it

    @dbus.service.signal(SETTINGS, signature='ssv')
    def SettingChanged(self, group, key, value):
        pass

    @dbus.service.method('org.devicefinder.TestPortal', in_signature='u')
    def Set(self, scheme):
        self.scheme = scheme
        self.SettingChanged('org.freedesktop.appearance', 'color-scheme', dbus.UInt32(scheme))


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = Portal(bus, int(sys.argv[1]))
name = dbus.service.BusName('org.freedesktop.portal.Desktop', bus)
GLib.MainLoop().run()
