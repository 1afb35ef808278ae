#!/usr/bin/python3
"""Prints what the Vantari window shows, as it shows it, through the desktop's accessibility bus.

Lines printed (UTF-8, one per event):
  ready                         the window's controls are known; the driver may start clicking
  status: <text>                a text of the main window changed (the status bar's panel)
  message [<caption>]: <text>   a message box opened

Usage: watch.py APP_NAME   (run inside the session bus the program uses)
"""
import sys
import time

import dbus
import gi
from dbus.mainloop.glib import DBusGMainLoop

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

ACCESSIBLE = "org.a11y.atspi.Accessible"
ROOT = "/org/a11y/atspi/accessible/root"
DEADLINE = time.monotonic() + 60


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


class Watcher:
    def __init__(self, bus, app_name):
        self.bus = bus
        self.app_name = app_name.lower()
        self.app = None
        self.known = set()  # (sender, path) of the main window's objects
        self.last_status = None

    def proxy(self, sender, path):
        return self.bus.get_object(sender, path, introspect=False)

    def name(self, sender, path):
        return str(self.proxy(sender, path).Get(ACCESSIBLE, "Name",
                                                dbus_interface="org.freedesktop.DBus.Properties"))

    def role(self, sender, path):
        return str(self.proxy(sender, path).GetRoleName(dbus_interface=ACCESSIBLE))

    def children(self, sender, path):
        return [(str(s), str(p)) for s, p in
                self.proxy(sender, path).GetChildren(dbus_interface=ACCESSIBLE)]

    def walk(self, sender, path, depth=0):
        yield sender, path
        if depth < 12:
            for child in self.children(sender, path):
                yield from self.walk(*child, depth + 1)

    def find_app(self):
        """Polls the registry until the program's window is there, then learns its objects."""
        try:
            for sender, path in self.children("org.a11y.atspi.Registry", ROOT):
                if self.name(sender, path).lower() == self.app_name:
                    windows = self.children(sender, path)
                    if windows:
                        self.app = sender
                        self.known = set(self.walk(sender, path))
                        say("ready")
                        return False
        except dbus.DBusException:
            pass
        if time.monotonic() > DEADLINE:
            say("error: the window never appeared on the accessibility bus")
            loop.quit()
            return False
        return True

    def on_property(self, detail, *_args, sender=None, path=None):
        # The event names the object only: ask it for the text. The program answers between
        # its blocking steps, so the reply comes in order but may be a later text.
        if detail != "accessible-name" or (sender, path) not in self.known:
            return
        self.proxy(sender, path).Get(ACCESSIBLE, "Name",
                                     dbus_interface="org.freedesktop.DBus.Properties",
                                     reply_handler=self.on_status, error_handler=lambda _e: None)

    def on_status(self, value):
        text = str(value)
        if text and text != self.last_status:
            self.last_status = text
            say("status: " + text)

    def on_window(self, *_args, sender=None, path=None):
        if sender != self.app or (sender, path) in self.known:
            return
        try:
            role = self.role(sender, path)
            if "alert" not in role and "dialog" not in role:
                return
            texts = [self.name(s, p) for s, p in self.walk(sender, path)
                     if self.role(s, p) == "label"]
            say("message [%s]: %s" % (self.name(sender, path),
                                      " / ".join(t for t in texts if t)))
        except dbus.DBusException as e:
            say("message [?]: (unreadable: %s)" % e.get_dbus_name())


def a11y_bus():
    session = dbus.SessionBus()
    address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus")
    return dbus.bus.BusConnection(str(address))


DBusGMainLoop(set_as_default=True)
# Registering listeners tells the programs that someone wants their events.
listener = Atspi.EventListener.new(lambda event: None)
for kind in ("object:property-change:accessible-name", "window:activate", "window:create"):
    listener.register(kind)
bus = a11y_bus()
watcher = Watcher(bus, sys.argv[1] if len(sys.argv) > 1 else "vantari")
bus.add_signal_receiver(watcher.on_property, signal_name="PropertyChange",
                        dbus_interface="org.a11y.atspi.Event.Object",
                        sender_keyword="sender", path_keyword="path")
bus.add_signal_receiver(watcher.on_window, signal_name="Activate",
                        dbus_interface="org.a11y.atspi.Event.Window",
                        sender_keyword="sender", path_keyword="path")
loop = GLib.MainLoop()
GLib.timeout_add(200, watcher.find_app)
loop.run()
