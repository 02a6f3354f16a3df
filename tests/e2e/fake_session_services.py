"""Stand-ins for logind, on a bus that the program takes for the system bus,
and for the two screen saver services, on the session bus, as far as the
program asks them. Driven by lines on stdin; prints "ready" once it owns its
names and "done <line>" once a command's signals are on their way.

usage: fake_session_services.py SYSTEM_BUS_ADDRESS SESSION_BUS_ADDRESS [--locked]

Commands: lock, unlock, inactive, active, suspend, resume, logind-quit,
freedesktop-saver on|off|quit, gnome-saver on|off|quit.
"""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

LOGIND = "org.freedesktop.login1"
MANAGER = "org.freedesktop.login1.Manager"
SESSION = "org.freedesktop.login1.Session"
SESSION_PATH = "/org/freedesktop/login1/session/_31"


class Manager(dbus.service.Object):
    @dbus.service.method(MANAGER, in_signature="s", out_signature="o")
    def GetSession(self, name):
        if name != "auto":
            raise dbus.exceptions.DBusException("no such session", name="org.freedesktop.login1.NoSuchSession")
        return dbus.ObjectPath(SESSION_PATH)

    @dbus.service.signal(MANAGER, signature="b")
    def PrepareForSleep(self, start):
        pass


class Session(dbus.service.Object):
    def __init__(self, bus, locked):
        super().__init__(bus, SESSION_PATH)
        self.properties = {"LockedHint": locked, "Active": True, "Name": "tester"}

    def _value(self, name):
        v = self.properties[name]
        return dbus.Boolean(v) if isinstance(v, bool) else dbus.String(v)

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self._value(name)

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface != SESSION:
            return dbus.Dictionary({}, signature="sv")
        return dbus.Dictionary({k: self._value(k) for k in self.properties}, signature="sv")

    @dbus.service.signal(dbus.PROPERTIES_IFACE, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    def set(self, name, value):
        self.properties[name] = value
        self.PropertiesChanged(SESSION, dbus.Dictionary({name: self._value(name)}, signature="sv"),
                               dbus.Array([], signature="s"))


def saver_class(interface):
    class Saver(dbus.service.Object):
        active = False

        @dbus.service.method(interface, out_signature="b")
        def GetActive(self):
            return dbus.Boolean(self.active)

        @dbus.service.signal(interface, signature="b")
        def ActiveChanged(self, on):
            pass

        def set(self, on):
            self.active = on
            self.ActiveChanged(dbus.Boolean(on))
    return Saver


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    system = dbus.bus.BusConnection(sys.argv[1])
    session = dbus.bus.BusConnection(sys.argv[2])
    manager = Manager(system, "/org/freedesktop/login1")
    login_session = Session(system, "--locked" in sys.argv[3:])
    names = {"logind": dbus.service.BusName(LOGIND, system)}
    savers = {}
    for key, name in (("freedesktop-saver", "org.freedesktop.ScreenSaver"), ("gnome-saver", "org.gnome.ScreenSaver")):
        savers[key] = saver_class(name)(session, "/" + name.replace(".", "/"))
        names[key] = dbus.service.BusName(name, session)

    def command(line):
        words = line.split()
        if words == ["lock"] or words == ["unlock"]:
            login_session.set("LockedHint", words[0] == "lock")
        elif words == ["inactive"] or words == ["active"]:
            login_session.set("Active", words[0] == "active")
        elif words == ["suspend"] or words == ["resume"]:
            manager.PrepareForSleep(dbus.Boolean(words[0] == "suspend"))
        elif words == ["logind-quit"] and "logind" in names:
            del names["logind"]  # the name goes with its last reference
        elif len(words) == 2 and words[0] in savers and words[1] in ("on", "off"):
            savers[words[0]].set(words[1] == "on")
        elif len(words) == 2 and words[0] in names and words[1] == "quit":
            del names[words[0]]
        else:
            return f"unknown {line}"
        return f"done {line}"

    def on_input(source, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        print(command(line.strip()), flush=True)
        return True

    loop = GLib.MainLoop()
    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
    print("ready", flush=True)
    loop.run()


if __name__ == "__main__":
    main()
