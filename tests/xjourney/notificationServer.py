#!/usr/bin/python3
"""The desktop's notification service, for the journey test, on the session bus it is started
on: it notes every notice it is sent as one JSON line in LOG, and picks a notice's action
when the test asks through its own method org.tonvert.Test.InvokeAction(id, key).

    /usr/bin/python3 notificationServer.py LOG
"""

import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"


class Server(dbus.service.Object):
    def __init__(self, bus, log):
        super().__init__(bus, PATH)
        self.log = log
        self.last_id = 0

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.last_id += 1
        with open(self.log, "a") as log:
            log.write(json.dumps({"id": self.last_id, "app": str(app), "summary": str(summary),
                                  "body": str(body), "actions": [str(a) for a in actions]})
                      + "\n")
        return self.last_id

    @dbus.service.method(NAME, out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.method(NAME, out_signature="ssss")
    def GetServerInformation(self):
        return ("journey", "tonvert-tests", "1", "1.2")

    @dbus.service.method(NAME, in_signature="u")
    def CloseNotification(self, notice):
        self.NotificationClosed(notice, 3)

    @dbus.service.signal(NAME, signature="us")
    def ActionInvoked(self, notice, key):
        pass

    @dbus.service.signal(NAME, signature="uu")
    def NotificationClosed(self, notice, reason):
        pass

    @dbus.service.method("org.tonvert.Test", in_signature="us")
    def InvokeAction(self, notice, key):
        self.ActionInvoked(notice, key)


def main(log):
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(NAME, bus)
    server = Server(bus, log)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name, server


if __name__ == "__main__":
    main(sys.argv[1])
