#!/usr/bin/python3
# A stand-in desktop portal: Settings.Read answers the color-scheme given; its Set method
# (org.devicefinder.TestPortal) changes it and sends SettingChanged, as a desktop switching does.
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SETTINGS, APPEARANCE = 'org.freedesktop.portal.Settings', 'org.freedesktop.appearance'


class Portal(dbus.service.Object):
    scheme = int(sys.argv[1])

    @dbus.service.method(SETTINGS, in_signature='ss', out_signature='v')
    def Read(self, group, key):
        return dbus.UInt32(self.scheme, variant_level=1)  # a variant in a variant, as the portal sends it

    @dbus.service.signal(SETTINGS, signature='ssv')
    def SettingChanged(self, group, key, value):
        pass

    @dbus.service.method('org.devicefinder.TestPortal', in_signature='u')
    def Set(self, scheme):
        self.scheme = scheme
        self.SettingChanged(APPEARANCE, 'color-scheme', dbus.UInt32(scheme))


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
portal = Portal(dbus.SessionBus(), '/org/freedesktop/portal/desktop')
name = dbus.service.BusName('org.freedesktop.portal.Desktop', dbus.SessionBus())
GLib.MainLoop().run()
