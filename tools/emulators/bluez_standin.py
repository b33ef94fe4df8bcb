#!/usr/bin/python3
"""A stand-in for bluetoothd: the BlueZ D-Bus API on a bus of one's own.

Offers what Taltrix's system Bluetooth backend (Qt Bluetooth) uses of BlueZ:
the object manager at "/", org.bluez.Adapter1 (discovery, Powered),
org.bluez.Device1 (ConnectProfile) and org.bluez.ProfileManager1. A
ConnectProfile hands one end of a socketpair to the Profile1.NewConnection
of the profile the caller registered, as bluetoothd does with an RFCOMM
socket; the other end is relayed to an ES16 emulator over TCP
(es16_emulator.py), which plays the launch monitor.

Qt reads the daemon's version by running the program of the process that
owns org.bluez with --version; so does this one ("5.66"). Start it with its
own path as the first word of its command line (see start_standin below) and
Qt takes the road it takes against a current bluetoothd.

Every event is printed as one line:
  ready | called METHOD [ARGS] | linked DEVICE | unlinked DEVICE
Commands on standard input, one per line:
  adapter add | adapter remove | power on | power off
  device NAME ADDRESS [paired|unpaired] [known]   (known: cached, not only found by discovery)
  pair ADDRESS
  answer REPLY   the next ConnectProfile's answer: ok, silent (success, no link),
                 or an error name (Failed, NotReady, NotAuthorized, ...)
  drop           closes the link to the device
  quit
"""

import argparse
import os
import socket
import subprocess
import sys

VERSION = "5.66"

if len(sys.argv) > 1 and sys.argv[1] == "--version":
    print(VERSION)
    sys.exit(0)

import dbus  # noqa: E402
import dbus.mainloop.glib  # noqa: E402
import dbus.service  # noqa: E402
from gi.repository import GLib  # noqa: E402

BLUEZ = "org.bluez"
ADAPTER = "org.bluez.Adapter1"
DEVICE = "org.bluez.Device1"
PROFILE_MANAGER = "org.bluez.ProfileManager1"
PROPERTIES = "org.freedesktop.DBus.Properties"
OBJECT_MANAGER = "org.freedesktop.DBus.ObjectManager"
ADAPTER_PATH = "/org/bluez/hci0"
SERIAL_PORT = "00001101-0000-1000-8000-00805f9b34fb"


def say(*words):
    print(*words, flush=True)


def bluez_error(name, text=""):
    error = dbus.DBusException(text or name)
    error._dbus_error_name = "org.bluez.Error." + name
    return error


class Exported(dbus.service.Object):
    """An object with one BlueZ interface and its properties."""

    interface = ""

    def __init__(self, standin, path):
        super().__init__(standin.bus, path)
        self.standin, self.path = standin, path

    def properties(self):
        raise NotImplementedError

    def listed_properties(self):
        """The properties as GetManagedObjects lists them."""
        return self.properties()

    def changed(self, **values):
        self.PropertiesChanged(self.interface, dbus.Dictionary(values, signature="sv"), dbus.Array([], "s"))

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface != self.interface or name not in self.properties():
            raise dbus.DBusException("No such property " + name,
                                     name="org.freedesktop.DBus.Error.InvalidArgs")
        return self.properties()[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties() if interface == self.interface else {}

    @dbus.service.method(PROPERTIES, in_signature="ssv")
    def Set(self, interface, name, value):
        say("called Set", name, bool(value) if isinstance(value, dbus.Boolean) else value)
        if interface == ADAPTER and name == "Powered":
            self.standin.power(bool(value))

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


class Adapter(Exported):
    interface = ADAPTER

    def __init__(self, standin):
        super().__init__(standin, ADAPTER_PATH)
        self.powered = True
        self.discovering = False
        # Listed as switched on while its own property says off: an adapter
        # switched off between a caller's two looks.
        self.racing = False

    def properties(self):
        return dbus.Dictionary({
            "Address": "00:1A:7D:DA:71:13", "AddressType": "public", "Name": "standin", "Alias": "standin",
            "Class": dbus.UInt32(0x6c010c), "Powered": dbus.Boolean(self.powered),
            "Discoverable": dbus.Boolean(False), "Pairable": dbus.Boolean(True),
            "Discovering": dbus.Boolean(self.discovering), "UUIDs": dbus.Array([SERIAL_PORT], "s"),
        }, signature="sv")

    def listed_properties(self):
        values = self.properties()
        if self.racing:
            values["Powered"] = dbus.Boolean(True)
        return values

    def set_discovering(self, on):
        self.discovering = on
        self.changed(Discovering=dbus.Boolean(on))

    @dbus.service.method(ADAPTER)
    def StartDiscovery(self):
        say("called StartDiscovery")
        if not self.powered:
            raise bluez_error("NotReady", "Resource Not Ready")
        self.set_discovering(True)
        self.standin.devices_in_range()

    @dbus.service.method(ADAPTER)
    def StopDiscovery(self):
        say("called StopDiscovery")
        if not self.discovering:
            raise bluez_error("Failed", "No discovery started")
        self.set_discovering(False)

    @dbus.service.method(ADAPTER, in_signature="a{sv}")
    def SetDiscoveryFilter(self, _filter):
        say("called SetDiscoveryFilter")

    @dbus.service.method(ADAPTER, out_signature="as")
    def GetDiscoveryFilters(self):
        return ["UUIDs", "RSSI", "Pathloss", "Transport", "DuplicateData"]

    @dbus.service.method(ADAPTER, in_signature="o")
    def RemoveDevice(self, path):
        self.standin.remove_device(str(path))


class Device(Exported):
    interface = DEVICE

    def __init__(self, standin, name, address, paired):
        super().__init__(standin, ADAPTER_PATH + "/dev_" + address.replace(":", "_"))
        self.name, self.address, self.paired = name, address, paired
        self.connected = False
        self.link = None

    def properties(self):
        values = {
            "Address": self.address, "AddressType": "public", "Name": self.name, "Alias": self.name,
            "Class": dbus.UInt32(0x001f00), "Paired": dbus.Boolean(self.paired),
            "Trusted": dbus.Boolean(self.paired), "Blocked": dbus.Boolean(False),
            "LegacyPairing": dbus.Boolean(True), "Connected": dbus.Boolean(self.connected),
            "UUIDs": dbus.Array([SERIAL_PORT], "s"), "Adapter": dbus.ObjectPath(ADAPTER_PATH),
            "ServicesResolved": dbus.Boolean(self.connected),
        }
        if self.standin.adapter and self.standin.adapter.discovering:
            values["RSSI"] = dbus.Int16(-52)
        return dbus.Dictionary(values, signature="sv")

    @dbus.service.method(DEVICE, in_signature="s", async_callbacks=("done", "failed"))
    def ConnectProfile(self, uuid, done, failed):
        say("called ConnectProfile", self.address, uuid)
        self.standin.connect_profile(self, str(uuid), done, failed)

    @dbus.service.method(DEVICE, in_signature="s")
    def DisconnectProfile(self, uuid):
        say("called DisconnectProfile", self.address, uuid)
        self.standin.unlink(self)

    @dbus.service.method(DEVICE)
    def Disconnect(self):
        say("called Disconnect", self.address)
        self.standin.unlink(self)


class Root(dbus.service.Object):
    """The object manager at "/" and the profile manager at /org/bluez."""

    def __init__(self, standin):
        super().__init__(standin.bus, "/")
        self.standin = standin

    @dbus.service.method(OBJECT_MANAGER, out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return {path: {obj.interface: obj.listed_properties()} for path, obj in self.standin.objects().items()}

    @dbus.service.signal(OBJECT_MANAGER, signature="oa{sa{sv}}")
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.signal(OBJECT_MANAGER, signature="oas")
    def InterfacesRemoved(self, path, interfaces):
        pass


class GarbledRoot(Root):
    """An object manager whose answer is not of the shape BlueZ gives."""

    @dbus.service.method(OBJECT_MANAGER, out_signature="a{sv}")
    def GetManagedObjects(self):
        return {"Powered": dbus.Boolean(True)}


class ProfileManager(dbus.service.Object):
    def __init__(self, standin):
        super().__init__(standin.bus, "/org/bluez")
        self.standin = standin

    @dbus.service.method(PROFILE_MANAGER, in_signature="osa{sv}", sender_keyword="sender")
    def RegisterProfile(self, path, uuid, options, sender=None):
        say("called RegisterProfile", path, uuid, options.get("Role", ""))
        self.standin.profiles[str(uuid).lower()] = (str(sender), str(path))

    @dbus.service.method(PROFILE_MANAGER, in_signature="o")
    def UnregisterProfile(self, path):
        say("called UnregisterProfile", path)
        for uuid, (_, registered) in list(self.standin.profiles.items()):
            if registered == str(path):
                del self.standin.profiles[uuid]


class Link:
    """One RFCOMM link: our end of the socketpair relayed to the ES16 emulator."""

    def __init__(self, standin, device, ours, es16):
        self.standin, self.device, self.ours, self.es16 = standin, device, ours, es16
        self.watches = [GLib.io_add_watch(ours.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, self.pump, ours, es16),
                        GLib.io_add_watch(es16.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, self.pump, es16, ours)]

    def pump(self, _fd, _condition, source, target):
        try:
            data = source.recv(4096)
            if data:
                target.sendall(data)
                return True
        except OSError:
            pass
        self.standin.unlink(self.device)
        return False

    def close(self):
        for watch in self.watches:
            GLib.source_remove(watch)
        self.watches = []
        for s in (self.ours, self.es16):
            s.close()


class Standin:
    def __init__(self, args):
        self.args = args
        self.bus = dbus.SystemBus()
        self.root = (GarbledRoot if args.garbled else Root)(self)
        self.profile_manager = ProfileManager(self)
        self.adapter = None
        self.devices = {}  # address -> Device, the ones on the bus
        self.unseen = []  # (name, address, paired): found only by a discovery
        self.profiles = {}  # uuid -> (bus name, object path)
        self.answers = []
        self.name = dbus.service.BusName(BLUEZ, self.bus)

    def objects(self):
        found = {}
        if self.adapter:
            found[self.adapter.path] = self.adapter
            found.update({device.path: device for device in self.devices.values()})
        return found

    def add_adapter(self):
        if self.adapter:
            return
        self.adapter = Adapter(self)
        self.root.InterfacesAdded(self.adapter.path, {ADAPTER: self.adapter.properties()})

    def remove_adapter(self):
        if not self.adapter:
            return
        for address in list(self.devices):
            self.remove_device(self.devices[address].path, keep=True)
        self.adapter.remove_from_connection()
        self.root.InterfacesRemoved(self.adapter.path, [ADAPTER])
        self.adapter = None

    def power(self, on):
        if not self.adapter:
            return
        self.adapter.powered = on
        self.adapter.racing = False
        if not on:
            for device in list(self.devices.values()):
                self.unlink(device)
            self.adapter.discovering = False
        self.adapter.changed(Powered=dbus.Boolean(on), Discovering=dbus.Boolean(self.adapter.discovering))

    def add_device(self, name, address, paired, known):
        if known and self.adapter:
            self.export_device(name, address, paired)
        else:
            self.unseen.append((name, address, paired))

    def export_device(self, name, address, paired):
        device = Device(self, name, address, paired)
        self.devices[address] = device
        self.root.InterfacesAdded(device.path, {DEVICE: device.properties()})

    def devices_in_range(self):
        for name, address, paired in self.unseen:
            if address not in self.devices:
                self.export_device(name, address, paired)
        for device in self.devices.values():
            device.changed(RSSI=dbus.Int16(-52))

    def remove_device(self, path, keep=False):
        for address, device in list(self.devices.items()):
            if device.path == path:
                self.unlink(device)
                device.remove_from_connection()
                self.root.InterfacesRemoved(path, [DEVICE])
                del self.devices[address]
                if keep:
                    self.unseen.append((device.name, device.address, device.paired))

    def connect_profile(self, device, uuid, done, failed):
        answer = self.answers.pop(0) if self.answers else "ok"
        if not self.adapter or not self.adapter.powered:
            answer = "NotReady"
        elif uuid.lower() not in self.profiles:
            answer = "DoesNotExist"
        elif device.link:
            answer = "AlreadyConnected"
        if answer == "silent":
            done()
            return
        if answer != "ok":
            failed(bluez_error(answer, answer))
            return
        owner, path = self.profiles[uuid.lower()]
        es16 = socket.create_connection((self.args.es16_host, self.args.es16_port))
        ours, theirs = socket.socketpair()
        device.link = Link(self, device, ours, es16)
        device.connected = True
        profile = dbus.Interface(self.bus.get_object(owner, path, introspect=False), "org.bluez.Profile1")

        def handed_over():
            theirs.close()
            device.changed(Connected=dbus.Boolean(True), ServicesResolved=dbus.Boolean(True))
            say("linked", device.address)
            done()

        def refused(error):
            say("refused", error.get_dbus_name() if isinstance(error, dbus.DBusException) else error)
            theirs.close()
            self.unlink(device)
            failed(bluez_error("Failed", str(error)))

        profile.NewConnection(dbus.ObjectPath(device.path), dbus.types.UnixFd(theirs.fileno()),
                              dbus.Dictionary({}, signature="sv"), signature="oha{sv}",
                              reply_handler=handed_over, error_handler=refused)

    def unlink(self, device):
        if not device.link:
            return
        device.link.close()
        device.link = None
        device.connected = False
        device.changed(Connected=dbus.Boolean(False), ServicesResolved=dbus.Boolean(False))
        say("unlinked", device.address)

    def command(self, line):
        words = line.split()
        if not words:
            return True
        if words == ["adapter", "add"]:
            self.add_adapter()
        elif words == ["adapter", "remove"]:
            self.remove_adapter()
        elif words[0] == "power" and len(words) == 2:
            self.power(words[1] == "on")
        elif words[0] == "device" and len(words) >= 3:
            self.add_device(words[1], words[2], "unpaired" not in words[3:], "known" in words[3:])
        elif words[0] == "pair" and len(words) == 2 and words[1] in self.devices:
            device = self.devices[words[1]]
            device.paired = True
            device.changed(Paired=dbus.Boolean(True), Trusted=dbus.Boolean(True))
        elif words[0] == "answer" and len(words) == 2:
            self.answers.append(words[1])
        elif words == ["drop"]:
            for device in list(self.devices.values()):
                self.unlink(device)
        elif words == ["quit"]:
            return False
        else:
            say("unknown-command", line)
        return True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--es16", required=True, metavar="HOST:PORT", help="the ES16 emulator to relay links to")
    parser.add_argument("--adapter", choices=("none", "off", "on", "racing"), default="on",
                        help="the adapter at start (racing: off, but listed as on by the object manager)")
    parser.add_argument("--device", action="append", default=[], metavar="NAME@ADDRESS[/unpaired][/known]",
                        help="a device in range (repeatable)")
    parser.add_argument("--garbled", action="store_true",
                        help="answer GetManagedObjects with a dictionary of another type")
    args = parser.parse_args()
    args.es16_host, port = args.es16.rsplit(":", 1)
    args.es16_port = int(port)
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    standin = Standin(args)
    if args.adapter != "none":
        standin.add_adapter()
        standin.adapter.powered = args.adapter == "on"
        standin.adapter.racing = args.adapter == "racing"
    for given in args.device:
        name, rest = given.split("@", 1)
        address, *flags = rest.split("/")
        standin.add_device(name, address, "unpaired" not in flags, "known" in flags)
    loop = GLib.MainLoop()

    pending = bytearray()

    def read_command(fd, _condition):
        # Read unbuffered: lines left in a file object's buffer would wake nobody.
        data = os.read(fd, 4096)
        pending.extend(data)
        while b"\n" in pending:
            line, _, rest = bytes(pending).partition(b"\n")
            pending[:] = rest
            if not standin.command(line.decode("utf-8", "replace")):
                data = b""
        if not data:
            loop.quit()
            return False
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, read_command)
    say("ready")
    loop.run()


def start_private_bus(folder):
    """A dbus-daemon of our own listening in folder: (process, address)."""
    daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                               f"--address=unix:path={os.path.join(folder, 'system_bus_socket')}"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    address = daemon.stdout.readline().strip()
    daemon.stdout.close()
    return daemon, address


def standin_command(*options):
    """The argument list that starts the stand-in with its own path first, so
    that Qt finds a bluetoothd that answers --version (give it executable=python3)."""
    here = os.path.abspath(__file__)
    return [here, here, *options]


if __name__ == "__main__":
    main()
