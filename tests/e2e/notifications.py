#!/usr/bin/python3
# A stand-in notification service on the session bus: each Notify call becomes one line
# "SUMMARY|BODY" (line breaks in the body as "\n") on standard output; says "ready" once its
# name is taken.
import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"


class Notifications(dbus.service.Object):
    shown = 0

    @dbus.service.method(NAME, out_signature="as")
    def GetCapabilities(self):
        return ["body", "body-markup", "actions"]

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        print(f"{summary}|{body}".replace("\n", "\\n"), flush=True)
        self.shown += 1
        return self.shown


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
service = Notifications(bus, "/org/freedesktop/Notifications")
name = dbus.service.BusName(NAME, bus)
print("ready", flush=True)
GLib.MainLoop().run()
