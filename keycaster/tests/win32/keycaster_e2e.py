#!/usr/bin/env python3
"""End-to-end test of KeyCaster.exe under Wine and Xvfb.

COM1 of the Wine prefix points at a pseudo-terminal that plays the serial scanner;
the stand-in ssiDLL.dll answers the SSI calls and logs them; kc_target.exe holds the
focus and logs every key and character it receives; kc_probe.exe finds, inspects and
drives windows. Scenarios: typing from the serial scanner, a missing COM port, a
first start in an empty folder, and an SSI link that does not open.

  keycaster_e2e.py --bin BUILD/bin --build BUILD [--screenshot docs/keycaster-dialog.png]
                   [--tools DIR]   (kc_probe.exe and kc_target.exe, when --bin is an installed KeyCaster)
"""
import argparse
import os
import pty
import re
import shutil
import subprocess
import sys
import time
import tty

TITLE = "KeyCaster Ver.32 (2009-08-05) "
TARGET = "KeyCaster Target"
WM_COMMAND, WM_CLOSE, WM_APP, WM_TRAY_NOTIFY, WM_LBUTTONDOWN = 0x111, 0x10, 0x8000, 0x8065, 0x201
DEFAULTS = bytes([6, 0, 0, 0, 0, 0, 0, 2]) + bytes(56)

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message, flush=True)
    return condition


def wait_until(predicate, seconds, step=0.05):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


# The build tree's Wine (its prefix and the loader of its architecture) through the
# project's runner.
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "scripts", "wine-run")


class Wine:
    def __init__(self, bin_dir, build_dir, tools_dir):
        self.bin = bin_dir
        self.tools = tools_dir
        self.env = dict(os.environ, VEL_BUILD_DIR=build_dir)
        self.prefix = os.path.join(build_dir, "wineprefix")

    def start(self, program, *args, cwd=None, env=None):
        full_env = dict(self.env, **(env or {}))
        folder = self.tools if program in ("kc_target.exe", "kc_probe.exe") else self.bin
        return subprocess.Popen([WINE_RUN, os.path.join(folder, program), *args], cwd=cwd, env=full_env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def probe(self, *args, timeout=60):
        r = subprocess.run([WINE_RUN, os.path.join(self.tools, "kc_probe.exe"), *[str(a) for a in args]],
                           env=self.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        return r.returncode, r.stdout.decode("latin-1").replace("\r", "")

    def dosdevice(self, name, target):
        link = os.path.join(self.prefix, "dosdevices", name)
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(target, link)

    def startup_folder(self):
        """The user's Startup folder (created as a logged-on user has it), as a Unix path."""
        code, out = self.probe("startup")
        windows_path = out.strip()
        if code != 0 or not windows_path.upper().startswith("C:\\"):
            sys.exit("no Startup folder: %r" % out)
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def serial_port(self, name, target):
        """Points COMn at a Unix device: in the registry, which the prefix's device
        manager applies when a session starts, and as the link of the running session."""
        subprocess.run([WINE_RUN, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", name.upper(), "/d", target, "/f"],
                       env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        self.dosdevice(name.lower(), target)

    def forget_serial_port(self, name):
        subprocess.run([WINE_RUN, "reg", "delete", "HKLM\\Software\\Wine\\Ports", "/v", name.upper(), "/f"],
                       env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)


def ensure_display():
    if os.environ.get("DISPLAY"):
        return None
    for number in range(90, 140):
        if os.path.exists("/tmp/.X11-unix/X%d" % number) or os.path.exists("/tmp/.X%d-lock" % number):
            continue
        server = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if wait_until(lambda: os.path.exists("/tmp/.X11-unix/X%d" % number), 10):
            os.environ["DISPLAY"] = ":%d" % number
            return server
        server.kill()
    sys.exit("no X display could be started")


def finish(process, seconds=30):
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        return None


def read_log(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="latin-1") as f:
        return [line.rstrip("\n") for line in f]


def events_of(lines):
    """(tick, event) for key and char lines of the target's log."""
    out = []
    for line in lines:
        tick, _, event = line.partition(" ")
        if event.startswith(("key ", "char ")):
            out.append((int(tick), event))
    return out


def chars(text):
    return ["char %02X" % c for c in text]


def status_text(wine):
    """The text of the dialog's status line (control 1021)."""
    code, out = wine.probe("dump", TITLE)
    for line in out.splitlines():
        parts = line.split(" ", 7)
        if len(parts) == 8 and parts[0] == "1021":
            return parts[7].strip('"')
    return None


def fresh_dir(root, name):
    path = os.path.join(root, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def scenario_typing(wine, work):
    """COM1 scanner configured through SSI: barcodes typed into the target window."""
    folder = fresh_dir(work, "typing")
    master, slave = pty.openpty()
    tty.setraw(slave)
    wine.serial_port("com1", os.ttyname(slave))
    # COM1, Send Return, AutoRUN, Force UPC-A to EAN13, Delay 100 ms, Control Code Delay 50 ms;
    # reserved bytes marked.
    settings = bytes([0, 1, 0, 0, 1, 1, 1, 1]) + bytes(range(0xA0, 0xA0 + 56))
    with open(os.path.join(folder, "KeyCaster.ini"), "wb") as f:
        f.write(settings)
    ssi_log = os.path.join(folder, "ssi.log")
    target_log = os.path.join(folder, "target.log")
    startup = wine.startup_folder()

    target = wine.start("kc_target.exe", "Z:" + target_log.replace("/", "\\"))
    check(wait_until(lambda: any(l.endswith("ready 1") for l in read_log(target_log)), 30), "target window is up")
    app = wine.start("KeyCaster.exe", cwd=folder, env={"SSI_STANDIN_LOG": ssi_log})
    # KeyCaster.exe starting under Wine on a busy machine can take most of a minute.
    configured = wait_until(lambda: sum(l.startswith("close") for l in read_log(ssi_log)) >= 2, 90)
    check(configured, "SSI configuration ran")
    # The port is reopened for reading 50 + 100 ms after the configuration; nothing
    # shows the reopen, so a loaded machine gets a wide margin.
    time.sleep(2.0)
    code, out = wine.probe("state", TITLE)
    check(code == 0 and "visible=0" in out, "AutoRUN starts reading with the window hidden: %r" % out)
    wine.probe("post", TARGET, WM_APP + 1, 0, 0)
    check(wait_until(lambda: any(" focus " in l for l in read_log(target_log)[1:]), 10), "target took the focus")

    barcodes = [b"AB\r\nZ", b"\t9", b"036000291452", b"x" * 5000]
    for barcode in barcodes:
        os.write(master, barcode)
        time.sleep(0.3 + len(barcode) / 2000.0 + 0.5)
    expected = (chars(b"AB") + ["key 0D 0 0", "key 0D 0 1"] + chars(b"Z") + ["key 09 0 0"] + chars(b"9") +
                chars(b"0036000291452") + chars(b"x" * 4096))
    wait_until(lambda: len(events_of(read_log(target_log))) >= len(expected), 20)
    got = events_of(read_log(target_log))
    names = [e for _, e in got]
    if not check(names == expected, "typed events"):
        print("expected %d events, got %d; first differences:" % (len(expected), len(names)))
        shown = 0
        for i in range(max(len(expected), len(names))):
            a = expected[i] if i < len(expected) else None
            b = names[i] if i < len(names) else None
            if a != b and shown < 10:
                print("  #%d expected %r got %r" % (i, a, b))
                shown += 1
    else:
        ticks = [t for t, _ in got]
        # Return waits the Delay (100 ms) after B; the line feed (Ctrl+Return) waits the
        # Control Code Delay (50 ms) after it, and so does the Tab.
        check(ticks[2] - ticks[1] >= 90, "Return waited %d ms" % (ticks[2] - ticks[1]))
        check(ticks[3] - ticks[2] >= 45, "Ctrl+Return waited %d ms" % (ticks[3] - ticks[2]))

    ssi = read_log(ssi_log)
    check(ssi == ["open 9600 1", "close 1", "open 9600 1", "ready 1 1", "ready 1 1", "ready 1 1",
                  "buffer 1 5000", "mode 1 1", "request 235 1 1", "write 235=1 2 1", "close 1"],
          "SSI calls: %r" % ssi)

    # "Send Return" cleared while reading: the scanner's parameter follows, the port is
    # read again, and the application still appends no Return of its own.
    wine.probe("check", TITLE, 1008, 0)
    wine.probe("post", TITLE, WM_COMMAND, 1008, 0)
    check(wait_until(lambda: len(read_log(ssi_log)) >= 17, 10), "Send Return resynchronised")
    check(read_log(ssi_log)[11:] == ["open 9600 1", "buffer 1 5000", "mode 1 1", "request 235 1 1",
                                     "write 235=0 2 1", "close 1"], "SSI calls of the resync: %r" % read_log(ssi_log)[11:])
    time.sleep(2.0)  # the port is reopened after the resync, as above
    os.write(master, b"Q\r")
    check(wait_until(lambda: [e for _, e in events_of(read_log(target_log))][len(expected):] ==
                     chars(b"Q") + ["key 0D 0 0"], 5), "the port is read again after the resync")
    time.sleep(0.5)
    check([e for _, e in events_of(read_log(target_log))][len(expected):] == chars(b"Q") + ["key 0D 0 0"],
          "no Return appended while the scanner handles it")

    # Nothing has the focus: characters go to the foreground window itself.
    wine.probe("post", TARGET, WM_APP + 2, 0, 0)
    check(wait_until(lambda: any(" nofocus 1" in l for l in read_log(target_log)), 5), "target dropped its focus")
    os.write(master, b"NF")
    check(wait_until(lambda: [l.split(" ", 1)[1] for l in read_log(target_log) if " wchar " in l] ==
                     ["wchar 4E", "wchar 46"], 5), "characters without a focus reach the foreground window")

    # A slow target (5 s for its 'A', longer than any wait for it): the keys and
    # characters typed after the 'A' arrive in their order.
    wine.probe("post", TARGET, WM_APP + 1, 0, 0)
    check(wait_until(lambda: sum(" focus " in l for l in read_log(target_log)) >= 3, 10), "target took the focus again")
    before = len(events_of(read_log(target_log)))
    wine.probe("post", TARGET, WM_APP + 3, 5000, 0)
    check(wait_until(lambda: any(l.endswith(" slow 5000") for l in read_log(target_log)), 10), "target is slow on 'A'")
    os.write(master, b"A\r\nB")
    slow = chars(b"A") + ["key 0D 0 0", "key 0D 0 1"] + chars(b"B")
    wait_until(lambda: len(events_of(read_log(target_log))) >= before + len(slow), 20)
    time.sleep(0.5)
    got = [e for _, e in events_of(read_log(target_log))][before:]
    check(got == slow, "a slow target reads A, Return, Ctrl+Return, B in order: %r" % got)
    check(wait_until(lambda: status_text(wine) == "Barcode typed (4 bytes)", 10),
          "status after the slow target: %r" % status_text(wine))

    # A hung target: the dialog keeps answering while a barcode of 20 CRs waits for it,
    # the barcode is reported as not typed, and nothing of it arrives when the target
    # reads its input again.
    before = len(events_of(read_log(target_log)))
    wine.probe("post", TARGET, WM_APP + 4, 8000, 0)
    check(wait_until(lambda: any(l.endswith(" hang 8000") for l in read_log(target_log)), 10), "target hangs")
    os.write(master, b"\r" * 20)
    time.sleep(0.3)
    pings = [wine.probe("ping", TITLE, 3000) for _ in range(3)]
    check(all(code == 0 for code, _ in pings), "the dialog answers while the barcode waits: %r" % pings)
    check(wait_until(lambda: (status_text(wine) or "").startswith("Barcode not typed: the window does not respond"), 10),
          "status after the hung target: %r" % status_text(wine))
    check(wait_until(lambda: any(l.endswith(" awake 1") for l in read_log(target_log)), 20), "target reads again")
    time.sleep(1.0)
    got = [e for _, e in events_of(read_log(target_log))][before:]
    check(got == [], "nothing of the barcode reaches the target that was hung: %r" % got[:6])

    # A click on the notification icon shows the window again.
    wine.probe("post", TITLE, WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN)
    check(wait_until(lambda: "visible=1" in wine.probe("state", TITLE)[1], 10), "tray click shows the window")

    wine.probe("post", TITLE, WM_COMMAND, 2, 0)  # Exit
    check(finish(app) == 0, "KeyCaster exits with 0")
    with open(os.path.join(folder, "KeyCaster.ini"), "rb") as f:
        saved = bytearray(settings)
        saved[1] = 0  # "Send Return" as cleared above
        check(f.read() == bytes(saved), "settings written back with the reserved bytes kept")
    own_link = os.path.join(wine.bin, "KeyCaster.lnk")
    for link in (own_link, os.path.join(startup, "keycaster.lnk")):
        ok = os.path.exists(link)
        if check(ok, "shortcut %s" % link):
            with open(link, "rb") as f:
                data = f.read()
            check(data[:4] == b"\x4c\x00\x00\x00" and b"KeyCaster.exe" in data, "%s is a shell link to KeyCaster.exe" % link)

    wine.probe("post", TARGET, WM_CLOSE, 0, 0)
    finish(target)
    text = [l.split(" ", 2)[2] for l in read_log(target_log) if l.split(" ")[1:2] == ["text"]]
    typed = b"AB\r\n\r\nZ\t9" + b"0036000291452" + b"x" * 4096 + b"Q\r\n" + b"A\r\n\r\nB"
    check(text == [typed.hex().upper()], "the target's edit control holds exactly the typed text")
    os.close(master)
    os.close(slave)


DIALOG_102 = [  # id, kind, text, x, y, width, height in tab order
    (2, "push", "Exit", 138, 71, 45, 14), (1000, "push", "Start", 138, 11, 45, 14),
    (1001, "push", "Stop", 138, 31, 45, 14), (-1, "group", "Connect Device", 7, 10, 124, 74),
    (1003, "radio", "COM1", 16, 22, 35, 10), (1004, "radio", "COM2", 16, 35, 38, 10),
    (1005, "radio", "COM3", 16, 49, 35, 10), (1006, "radio", "COM4", 75, 22, 35, 10),
    (1009, "radio", "COM5", 75, 36, 35, 10), (1015, "radio", "COM6", 75, 50, 35, 10),
    (1016, "radio", "USB Ver 1.0", 14, 67, 52, 10), (1017, "radio", "USB Ver 2.0", 73, 66, 52, 10),
    (1007, "push", "Hide", 138, 51, 45, 14), (1008, "check", "Send Return", 12, 86, 49, 15),
    (1010, "check", "Enable Window Mode CR/LF", 12, 109, 110, 11), (1011, "check", "SCodePage", 148, 89, 8, 10),
    (-1, "static", "Shift Code Page", 158, 90, 15, 10), (-1, "group", "", 131, 110, 55, 24),
    (1012, "check", "AutoRUN", 135, 117, 45, 10), (1013, "check", "Force UPC-A to EAN13", 12, 125, 87, 11),
    (1018, "combo", "", 89, 87, 33, 105), (-1, "static", "Delay", 67, 88, 18, 10),
    (-1, "static", "ms", 129, 89, 18, 10), (1020, "combo", "", 98, 146, 33, 105),
    (-1, "static", "Control Code Delay", 19, 148, 63, 10), (-1, "static", "ms", 140, 147, 18, 10),
]
WS_VISIBLE, WS_DISABLED, WS_CAPTION, WS_SYSMENU, WS_GROUP = 0x10000000, 0x08000000, 0x00C00000, 0x00080000, 0x20000
WS_MINMAX, DS_MODALFRAME = 0x30000, 0x80


def template(wine, dialog_id):
    exe = "Z:" + os.path.join(wine.bin, "KeyCaster.exe").replace("/", "\\")
    code, out = wine.probe("resources", exe, dialog_id)
    head, rows, extra = None, [], {}
    for line in out.splitlines():
        m = re.match(r'dialog (\d+) (\d+) (\d+) (\d+) ([0-9A-F]+) ([0-9A-F]+) "(.*)" (\d+) "(.*)"$', line)
        if m:
            head = m.groups()
            continue
        m = re.match(r'(-?\d+) (\S+) (-?\d+) (-?\d+) (-?\d+) (-?\d+) ([0-9A-F]+) "(.*)"$', line)
        if m:
            rows.append(m.groups())
            continue
        key, _, value = line.partition(" ")
        extra[key] = value
    return code, head, rows, extra


def kind_of(cls, style):
    if cls == "#130":
        return "static"
    if cls == "#133":
        return "combo" if style & 3 == 3 else "combo?"
    if cls in ("#128", "BUTTON"):
        return {0: "push", 1: "push", 3: "check", 7: "group", 9: "radio"}.get(style & 0xF, "button?")
    return cls


def scenario_resources(wine, work):
    """Dialogs 102 and 100, string 101 and icon 128 as stored in KeyCaster.exe."""
    code, head, rows, extra = template(wine, 102)
    check(code == 0 and head is not None, "dialog 102 readable")
    if head:
        style = int(head[4], 16)
        check(head[2:4] == ("197", "168") and head[6] == "KeyCaster Ver.32 (2009-08-05) " and
              head[7:] == ("8", "MS Sans Serif"), "dialog 102 size, title and font: %r" % (head,))
        check(style & WS_CAPTION == WS_CAPTION and style & WS_SYSMENU and style & DS_MODALFRAME and
              not style & WS_MINMAX, "dialog 102 frame style %08X" % style)
    got = [(int(r[0]), kind_of(r[1], int(r[6], 16)), r[7], *map(int, r[2:6])) for r in rows]
    check(got == DIALOG_102, "controls of dialog 102:\n  %s" % "\n  ".join(map(str, got)))
    styles = {(int(r[0]), r[7]): int(r[6], 16) for r in rows}
    check(styles.get((1003, "COM1"), 0) & WS_GROUP, "COM1 starts the radio group")
    for key in ((1011, "SCodePage"), (-1, "Shift Code Page")):
        st = styles.get(key, WS_VISIBLE)
        check(not st & WS_VISIBLE and st & WS_DISABLED, "%r hidden and disabled" % (key,))
    check(all(st & WS_VISIBLE for k, st in styles.items() if k not in ((1011, "SCodePage"), (-1, "Shift Code Page"))),
          "every other control visible")
    check(extra.get("string101") == '"&About KeyCaster..."', "string 101: %r" % extra.get("string101"))
    check(extra.get("icon128") == "1", "icon 128 present")

    code, head, rows, _ = template(wine, 100)
    check(head is not None and head[2:4] == ("235", "55") and head[6] == "About KeyCaster",
          "About box size and title: %r" % (head,))
    texts = [(int(r[0]), r[7]) for r in rows]
    check((-1, "KeyCaster Version 2.0") in texts and (1, "OK") in texts and (-1, "#128") in texts and
          any("Copyright" in t for _, t in texts), "About box controls: %r" % texts)


def scenario_missing_port(wine, work):
    """A COM port that cannot be opened ends the application after its message."""
    folder = fresh_dir(work, "missing")
    wine.serial_port("com5", "/nonexistent/keycaster-tty")
    settings = bytes([4, 0, 0, 0, 1, 0, 0, 2]) + bytes(56)
    with open(os.path.join(folder, "KeyCaster.ini"), "wb") as f:
        f.write(settings)
    app = wine.start("KeyCaster.exe", cwd=folder)
    code, out = wine.probe("msgbox", "Error", "Open Serial Port Error!", 30000)
    check(code == 0, "message box \"Open Serial Port Error!\" with caption \"Error\": %r" % out)
    check(finish(app) == 0, "application ends with exit code 0")


def scenario_ssi_link_fails(wine, work):
    """The SSI link does not open: message, then the wait for the HID scanner."""
    folder = fresh_dir(work, "ssifail")
    master, slave = pty.openpty()
    wine.serial_port("com1", os.ttyname(slave))
    with open(os.path.join(folder, "KeyCaster.ini"), "wb") as f:
        f.write(bytes([0, 0, 0, 0, 1, 0, 0, 2]) + bytes(56))
    ssi_log = os.path.join(folder, "ssi.log")
    app = wine.start("KeyCaster.exe", cwd=folder, env={"SSI_STANDIN_LOG": ssi_log, "SSI_STANDIN_FAIL": "link"})
    code, out = wine.probe("msgbox", "KeyCaster", "Connect Symbol device (RS232)fail-1!", 30000)
    check(code == 0, "message box \"Connect Symbol device (RS232)fail-1!\": %r" % out)
    time.sleep(0.5)
    wine.probe("post", TITLE, WM_CLOSE, 0, 0)  # close box: stops the HID wait first
    check(finish(app) == 0, "exit after the failed SSI link")
    check(read_log(ssi_log) == ["open 9600 1 failed", "close 1", "open 9600 1 failed", "close 1"],
          "SSI calls when the link fails: %r" % read_log(ssi_log))
    os.close(master)
    os.close(slave)


def scenario_first_start(wine, work, screenshot):
    """Empty folder: defaults written, the dialog's controls, system menu, close box."""
    folder = fresh_dir(work, "first")
    app = wine.start("KeyCaster.exe", cwd=folder)
    code, _ = wine.probe("wait", TITLE, 30000)
    check(code == 0, "dialog window appears")
    check(wait_until(lambda: os.path.exists(os.path.join(folder, "KeyCaster.ini")), 10), "settings file created")
    with open(os.path.join(folder, "KeyCaster.ini"), "rb") as f:
        check(f.read() == DEFAULTS, "first start writes 06 00 00 00 00 00 00 02 + 56 zeros")
    code, out = wine.probe("dump", TITLE)
    rows = {}
    for line in out.splitlines():
        parts = line.split(" ", 7)
        if len(parts) == 8 and parts[0] != "-1":
            rows[int(parts[0])] = parts
    texts = {2: "Exit", 1000: "Start", 1001: "Stop", 1003: "COM1", 1004: "COM2", 1005: "COM3", 1006: "COM4",
             1009: "COM5", 1015: "COM6", 1016: "USB Ver 1.0", 1017: "USB Ver 2.0", 1007: "Hide",
             1008: "Send Return", 1010: "Enable Window Mode CR/LF", 1011: "SCodePage", 1012: "AutoRUN",
             1013: "Force UPC-A to EAN13", 1018: "0    |100|200|300|400|500", 1020: "0    |50|100|200|300|400|500"}
    for control, text in texts.items():
        row = rows.get(control)
        check(row is not None and row[7] == '"%s"' % text, "control %d text %r: %r" % (control, text, row))
    check(rows.get(1016, [""] * 5)[4] == "1", "USB Ver 1.0 selected")
    check(rows.get(1020, [""] * 6)[5] == "2", "Control Code Delay 100 selected")
    check(rows.get(1001, [""] * 4)[3] == "0", "Stop disabled")
    check(rows.get(1011, [""] * 4)[2:4] == ["0", "0"], "SCodePage hidden and disabled")
    code, out = wine.probe("about", TITLE)
    check(code == 0, "the About command of the system menu opens and closes \"About KeyCaster\"")

    wine.probe("post", TITLE, WM_CLOSE, 0, 0)
    check(finish(app) == 0, "close box ends with exit code 0")
    startup = wine.startup_folder()
    check(not os.path.exists(os.path.join(startup, "keycaster.lnk")),
          "AutoRUN off removes the Startup shortcut")

    if screenshot:
        # A virtual desktop draws the caption that a missing window manager would not.
        folder = fresh_dir(work, "screenshot")
        desk = subprocess.Popen([WINE_RUN, "explorer", "/desktop=kcshot,400x360",
                                 os.path.join(wine.bin, "KeyCaster.exe")], cwd=folder, env=wine.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(6)
        subprocess.run(["import", "-window", "root", "-crop", "400x360+0+0", screenshot], check=False)
        subprocess.run([WINE_RUN, "explorer", "/desktop=kcshot", os.path.join(wine.tools, "kc_probe.exe"), "post",
                        TITLE, str(WM_CLOSE), "0", "0"], env=wine.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        finish(desk, 30)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--screenshot")
    parser.add_argument("--tools")
    parser.add_argument("--only", help="run only the scenarios whose name contains this")
    args = parser.parse_args()
    xvfb = ensure_display()
    wine = Wine(os.path.abspath(args.bin), os.path.abspath(args.build), os.path.abspath(args.tools or args.bin))
    work = os.path.join(os.path.abspath(args.build), "keycaster-e2e")
    os.makedirs(work, exist_ok=True)
    saved = {n: os.readlink(os.path.join(wine.prefix, "dosdevices", n))
             for n in ("com1", "com5") if os.path.islink(os.path.join(wine.prefix, "dosdevices", n))}
    started = time.time()
    # A fresh Wine session (this test runs alone): a program an earlier test's timeout
    # killed can leave the session unable to show windows.
    for step in ("--stop", "--start"):
        subprocess.run([WINE_RUN, step], env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
    # Outside CTest's wine fixture the session must also outlive the single programs.
    subprocess.run([WINE_RUN, "--server", "-p60"], env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    # The first program of a session starts the session's services, which would keep
    # any output pipe of it open: start them with nothing to inherit.
    subprocess.run([WINE_RUN, os.path.join(wine.tools, "kc_probe.exe"), "startup"], env=wine.env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    try:
        for name, run in (("resources", lambda: scenario_resources(wine, work)),
                          ("typing", lambda: scenario_typing(wine, work)),
                          ("missing port", lambda: scenario_missing_port(wine, work)),
                          ("SSI link fails", lambda: scenario_ssi_link_fails(wine, work)),
                          ("first start", lambda: scenario_first_start(wine, work, args.screenshot))):
            if args.only and args.only not in name:
                continue
            t = time.time()
            run()
            print("scenario %s: %.1f s" % (name, time.time() - t), flush=True)
    finally:
        for n in ("com1", "com5"):
            wine.forget_serial_port(n)
            link = os.path.join(wine.prefix, "dosdevices", n)
            if os.path.lexists(link):
                os.remove(link)
            if n in saved:
                os.symlink(saved[n], link)
        if xvfb:
            xvfb.terminate()
    print("KeyCaster end to end: %d failure(s) in %.1f s" % (len(failures), time.time() - started))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
