#!/usr/bin/python3
"""A desktop's notification service as the desktop test needs one: it owns
org.freedesktop.Notifications on the session bus and appends each notification
to LOG as "id<TAB>summary<TAB>body<TAB>actions". The test's own call
Invoke(id, action) answers as a user clicking that action would.

    fake_notifications.py LOG
"""
import sys

from gi.repository import Gio, GLib

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
INTERFACE = """<node><interface name="org.freedesktop.Notifications">
<method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
  <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
  <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/></method>
<method name="Invoke"><arg type="u" direction="in"/><arg type="s" direction="in"/></method>
<signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
</interface></node>"""
state = {"last": 0, "log": None}


def on_call(bus, sender, path, interface, method, args, call):
    if method == "Notify":
        _, replaces, _, summary, body, actions, _, _ = args.unpack()
        state["last"] = replaces or state["last"] + 1
        state["log"].write(f"{state['last']}\t{summary}\t{body}\t{' '.join(actions)}\n")
        state["log"].flush()
        return call.return_value(GLib.Variant("(u)", (state["last"],)))
    bus.emit_signal(None, PATH, NAME, "ActionInvoked", GLib.Variant("(us)", args.unpack()))
    call.return_value(None)


def on_bus(bus, _):
    bus.register_object(PATH, Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0], on_call, None, None)


# The log appears once the name is ours: the test waits for it.
Gio.bus_own_name(Gio.BusType.SESSION, NAME, Gio.BusNameOwnerFlags.NONE, on_bus,
                 lambda *_: state.update(log=open(sys.argv[1], "w")), lambda *_: sys.exit(1))
GLib.MainLoop().run()
