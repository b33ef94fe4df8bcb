#!/usr/bin/python3
"""Taltrix demonstration: an emulated ES16 hits a shot every few seconds,
Taltrix carries it to an emulated TGC, and TGC's club changes come back to
the ES16 as club commands. Runs until Ctrl-C.

With --open-connect the simulator is an Open Connect one (the Open Connect
API v1, JSON over TCP) played by its emulator, which checks every message
Taltrix sends and answers with the player's club and distance.

With --relay the simulator is Halvex Play behind the relay emulator instead,
over wss as the real relay: Taltrix signs in, sends every shot as a
"/launch {...}" command, and the game's club, lie and distance come back to
the ES16 as club commands. The relay's certificate comes from a
throwaway CA (made with the openssl command) that only the demo's own Root
store trusts, so the user's certificate stores are left alone.

In every mode the Morvane control is registered with comreg into a registry
in the demo's own folder, so the user's registry is left alone.

With --system-bluetooth Taltrix reaches the ES16 through its system
Bluetooth backend (Qt Bluetooth on BlueZ) instead of the emulated one: a
stand-in for bluetoothd on a D-Bus bus of the demo's own hands Taltrix the
link to the ES16 emulator, as BlueZ hands over an RFCOMM link.

Usage: demo.py TALTRIX [--headless] [--relay | --open-connect] [--system-bluetooth]
"""

import argparse
import itertools
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
EMULATORS = os.path.join(HERE, "emulators")
COLOURS = {"es16": "\033[36m", "bluez": "\033[34m", "tgc": "\033[33m", "relay": "\033[33m", "opencon": "\033[33m", "taltrix": "\033[32m",
           "demo": "\033[35m"}
# What the golfer does in the simulator between shots.
CLUB_CHANGES = ["club DR Tee 380", "club I7 Fairway 150", "club LW Rough 25", "club LW Green 8", "club PW Fairway 95"]
# The same round in Halvex Play, as the relay reports it.
RELAY_CHANGES = [
    "hxp status=200 gameName=Hole1 playerClub=DR distanceToFlag=380 playerSurface=Tee",
    "hxp status=200 gameName=Hole1 playerClub=I7 distanceToFlag=150 playerSurface=Fairway",
    "hyinfo club=LW surface=Rough distance=23",
    "hxp status=200 gameName=Hole1 playerClub=LW distanceToFlag=8 playerSurface=Green",
    'hystatus status=1 message="Hole 2"',
    "hxp status=200 gameName=Hole2 playerClub=PW distanceToFlag=95 playerSurface=Fairway",
]
# The same round with an Open Connect simulator, which sends no lie: the lob
# wedge chips by distance alone. Some replies come glued or split.
OPEN_CONNECT_CHANGES = ["club DR 380", "club I7 150", "club LW 25", "glued 200 LW:8", "club PW 95", "split W4 230"]
RELAY_KEY = "DEMO42"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def show(name, line):
    colour = COLOURS[name] if sys.stdout.isatty() else ""
    reset = "\033[0m" if colour else ""
    print(f"{colour}[{name:>7}]{reset} {line}", flush=True)


def start(name, args, env=None, executable=None, ready=None):
    """Starts a process whose lines are shown with its name; with ready, waits
    (10 s at most) until it prints that line."""
    process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True, encoding="latin-1", env=env, executable=executable)
    seen = threading.Event()

    def pump():
        for line in process.stdout:
            show(name, line.rstrip("\n"))
            if line.rstrip("\n") == ready:
                seen.set()
    threading.Thread(target=pump, daemon=True).start()
    if ready is not None:
        seen.wait(10)
    return process


def register_control(args, home, env):
    """Registers the Morvane control in the demo's own registry; False when it cannot."""
    build = os.path.dirname(os.path.dirname(os.path.abspath(args.taltrix)))
    comreg = args.comreg or os.path.join(build, "tools", "comreg", "comreg")
    control = args.control or os.path.join(build, "control", "com", "libmorvane.so")
    env["TALTRIX_COM_USER_HIVE"] = os.path.join(home, "com", "user-classes.reg")
    env["TALTRIX_COM_MACHINE_HIVE"] = os.path.join(home, "com", "machine-classes.reg")
    done = subprocess.run([comreg, "register", "--user", control], env=env, capture_output=True, text=True)
    show("demo", (done.stdout or done.stderr).strip())
    return done.returncode == 0


def make_relay_certificate(folder):
    """A throwaway CA and a certificate it issues for 127.0.0.1 and localhost;
    the paths of the CA, the certificate and its key."""
    paths = {name: os.path.join(folder, name) for name in ("ca.pem", "ca.key", "relay.csr", "relay.ext",
                                                           "relay.pem", "relay.key")}
    with open(paths["relay.ext"], "w") as f:
        f.write("subjectAltName = IP:127.0.0.1, DNS:localhost\nextendedKeyUsage = serverAuth\n")
    new_key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
    for command in (
            ["req", "-x509", *new_key, "-keyout", paths["ca.key"], "-out", paths["ca.pem"], "-days", "7",
             "-subj", "/CN=Taltrix Demo Root", "-addext", "basicConstraints=critical,CA:TRUE"],
            ["req", *new_key, "-keyout", paths["relay.key"], "-out", paths["relay.csr"], "-subj", "/CN=127.0.0.1"],
            ["x509", "-req", "-in", paths["relay.csr"], "-CA", paths["ca.pem"], "-CAkey", paths["ca.key"],
             "-CAcreateserial", "-days", "7", "-extfile", paths["relay.ext"], "-out", paths["relay.pem"]]):
        subprocess.run(["openssl", *command], check=True, capture_output=True)
    return paths["ca.pem"], paths["relay.pem"], paths["relay.key"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("taltrix", help="path of the taltrix program")
    parser.add_argument("--headless", action="store_true", help="no window even when a display exists")
    parser.add_argument("--interval", type=float, default=4.0, help="seconds between shots (default 4)")
    parser.add_argument("--relay", action="store_true", help="play Halvex Play through the relay emulator")
    parser.add_argument("--open-connect", action="store_true", help="play an Open Connect simulator's emulator")
    parser.add_argument("--system-bluetooth", action="store_true",
                        help="reach the ES16 through BlueZ (a stand-in for bluetoothd on the demo's own bus)")
    parser.add_argument("--comreg", help="comreg program (default: in the build tree of TALTRIX)")
    parser.add_argument("--control", help="libmorvane.so (default: in the build tree of TALTRIX)")
    args = parser.parse_args()
    if args.relay and args.open_connect:
        parser.error("--relay and --open-connect each choose the simulator; give one")

    device_port, sim_port = free_port(), free_port()
    home = tempfile.mkdtemp(prefix="taltrix-demo-")
    env = dict(os.environ, XDG_RUNTIME_DIR=home)
    headless = args.headless or not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))
    # Every mode creates the control at start (the relay link needs it, the
    # others report it), so it is registered in every mode.
    if not register_control(args, home, env):
        sys.exit("demo: the Morvane control could not be registered")
    if args.relay:
        with open(os.path.join(home, "Settings.pgs"), "w", newline="") as settings:
            settings.write(f"[Software]\r\nHalvexPlay_key={RELAY_KEY}\r\nSim_software=HalvexPlay\r\n")
        pki = os.path.join(home, "pki")
        os.makedirs(pki)
        try:
            ca, certificate, key = make_relay_certificate(pki)
        except (OSError, subprocess.CalledProcessError) as error:
            sys.exit(f"demo: the relay's certificate could not be made with openssl: {error}")
        # The demo's own certificate stores: the CA in the user's Root store,
        # and an empty machine location.
        env["TALTRIX_CERT_USER_DIR"] = os.path.join(home, "certs")
        env["TALTRIX_CERT_MACHINE_DIR"] = os.path.join(home, "certs-machine")
        os.makedirs(os.path.join(env["TALTRIX_CERT_USER_DIR"], "Root"))
        os.makedirs(env["TALTRIX_CERT_MACHINE_DIR"])
        shutil.copy(ca, os.path.join(env["TALTRIX_CERT_USER_DIR"], "Root", "demo-ca.pem"))
        simulator = start("relay", ["/usr/bin/python3", os.path.join(EMULATORS, "relay_emulator.py"),
                                    "--port", str(sim_port), "--cert", certificate, "--key", key])
        link_args = ["--relay-url", f"wss://127.0.0.1:{sim_port}"]
        changes = RELAY_CHANGES
    elif args.open_connect:
        with open(os.path.join(home, "Settings.pgs"), "w", newline="") as settings:
            settings.write(f"[Software]\r\nSim_software=OpenConnect\r\nOpenConnect_port={sim_port}\r\n")
        simulator = start("opencon", ["/usr/bin/python3", os.path.join(EMULATORS, "openconnect_emulator.py"),
                                       "--port", str(sim_port)])
        link_args = []
        changes = OPEN_CONNECT_CHANGES
    else:
        simulator = start("tgc", ["/usr/bin/python3", os.path.join(EMULATORS, "tgc_emulator.py"),
                                  "--port", str(sim_port)])
        link_args = ["--tgc", f"127.0.0.1:{sim_port}"]
        changes = CLUB_CHANGES
    processes = [
        start("es16", ["/usr/bin/python3", os.path.join(EMULATORS, "es16_emulator.py"), "--port", str(device_port),
                       "--interval", str(args.interval)]),
        simulator,
    ]
    time.sleep(0.5)
    if args.system_bluetooth:
        sys.path.insert(0, EMULATORS)
        from bluez_standin import standin_command, start_private_bus
        bus, bus_address = start_private_bus(home)
        # A discovery of 15 units of 0.1 s instead of the radio's 1.28 s.
        env.update(DBUS_SYSTEM_BUS_ADDRESS=bus_address, TALTRIX_BLUETOOTH_INQUIRY_MS="100")
        bluez = start("bluez", standin_command("--es16", f"127.0.0.1:{device_port}",
                                               "--device", "ES16 Demo@00:06:66:E7:8A:D1"),
                      env=env, executable="/usr/bin/python3", ready="ready")
        processes += [bus, bluez]
        device_option = []
    else:
        device_option = ["--bluetooth", f"emulator:ES16 Demo@127.0.0.1:{device_port}"]
    taltrix_args = [args.taltrix, "--home", home, *device_option, *link_args]
    if headless:
        taltrix_args.append("--headless")
    show("demo", f"Taltrix {'headless' if headless else 'in the tray (left-click its icon)'}; home {home}")
    show("demo", "The first connection comes at the first timer tick (4.5 s). Ctrl-C ends the demo.")
    processes.append(start("taltrix", taltrix_args, env=env))

    stop = threading.Event()

    def golfer():
        for change in itertools.cycle(changes):
            if stop.wait(7):
                return
            show("demo", f"{'relay' if args.relay else 'Open Connect' if args.open_connect else 'TGC'}: {change}")
            processes[1].stdin.write(change + "\n")
            processes[1].stdin.flush()
    threading.Thread(target=golfer, daemon=True).start()

    try:
        while all(p.poll() is None for p in processes):
            time.sleep(0.5)
        show("demo", "a process ended; stopping")
    except KeyboardInterrupt:
        pass
    finally:
        stop.set()
        for p in reversed(processes):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
        for p in processes:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
        # The shots stay in the demo's history after it ends.
        show("demo", f"The shots of this demo: {args.taltrix} --home {home} --export-csv -")


if __name__ == "__main__":
    main()
