#!/usr/bin/python3
"""The desktop panel as a screen reader meets it: through AT-SPI, under Xvfb, on a
session bus of its own (run under dbus-run-session). Each bar row is a progress bar
named after its row whose value is the figure the row shows, and the value follows the
figure when it changes.

    dbus-run-session -- tests/accessibility.py BIN FIXTURES
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

bin_dir, fixtures = sys.argv[1], sys.argv[2]
scratch = tempfile.mkdtemp()
started = []


def fail(message):
    print("FAIL:", message)
    for log in ("xvfb.log", "panel.log"):
        if os.path.exists(os.path.join(scratch, log)):
            with open(os.path.join(scratch, log), errors="replace") as f:
                print(log + ":", f.read()[-2000:])
    sys.exit(1)


def until(condition, what, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = condition()
        if found:
            return found
        time.sleep(0.1)
    fail("gave up waiting for " + what)


try:
    # A display of its own: Xvfb says which through the descriptor.
    read, write = os.pipe()
    started.append(subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24"],
                                    pass_fds=[write], stderr=open(os.path.join(scratch, "xvfb.log"), "w")))
    os.close(write)
    # The whole line, and the pipe kept open: a server whose write finds it closed ends.
    display = b""
    while not display.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            fail("Xvfb gave no display")
        display += chunk
    display = display.decode().strip()

    # A tree of its own to change the memory figure in.
    tree = os.path.join(scratch, "tree")
    shutil.copytree(os.path.join(fixtures, "linux", "laptop-discharging"), tree, symlinks=True)
    env = dict(os.environ, DISPLAY=":" + display, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", XDG_CONFIG_HOME=scratch,
               XDG_STATE_HOME=scratch, LANG="C.UTF-8")
    env.pop("LANGUAGE", None)
    subprocess.run([bin_dir + "/quillo", "settings", "set", "RefreshRate", "0.2"], env=env, check=True)
    pyatspi.Registry.getDesktop(0)  # starts the accessibility bus before the panel asks for it
    started.append(subprocess.Popen([bin_dir + "/quillo-panel", "--desktop", "--procfs", tree + "/proc",
                                     "--sysfs", tree + "/sys"], env=env,
                                    stderr=open(os.path.join(scratch, "panel.log"), "w")))

    def panel():
        if started[-1].poll() is not None:
            fail("the panel ended")
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "Quillo":
                return app
        return None

    def named(role):
        found = {}

        def walk(node):
            for child in node:
                if child is None:
                    continue
                if child.getRole() == role and child.name:
                    found[child.name] = child
                walk(child)
        walk(until(panel, "the panel on the accessibility bus"))
        return found

    def bars():
        return named(pyatspi.ROLE_PROGRESS_BAR)

    rows = until(lambda: (lambda b: b if {"CPU", "Memory", "Disk", "Battery"} <= set(b) else None)(bars()),
                 "the bar rows named CPU, Memory, Disk and Battery")

    def memory():
        """The value the memory bar says, and the figure beside it, once both agree."""
        bar = rows["Memory"]
        shown = re.match(r"(\d+)%", bar.parent.getChildAtIndex(bar.getIndexInParent() + 1).name or "")
        value = bar.queryValue().currentValue
        return value if shown and value == int(shown.group(1)) else None

    value = until(memory, "the memory bar's value to be its figure")
    if rows["Memory"].queryValue().maximumValue != 100:
        fail("a share is out of 100")

    # A row whose figures are labels of their own tells them as its description.
    until(lambda: "B/s" in getattr(named(pyatspi.ROLE_LABEL).get("Network"), "description", ""),
          "the network row's rates as its description")

    # Nearly all memory taken: the value follows the figure.
    meminfo = os.path.join(tree, "proc", "meminfo")
    with open(meminfo) as f:
        text = f.read()
    total = int(re.search(r"MemTotal:\s+(\d+)", text).group(1))
    for key in ("MemFree", "MemAvailable", "Buffers", "Cached", "SReclaimable"):
        text = re.sub(r"(%s:\s+)\d+" % key, lambda m: m.group(1) + str(total // 50), text)
    os.remove(meminfo)
    with open(meminfo, "w") as f:
        f.write(text)
    after = until(lambda: (lambda now: now if now not in (None, value) else None)(memory()),
                  "the memory value to follow its figure from %s" % value)
    print("memory: %s%% then %s%%; rows:" % (value, after), ", ".join(sorted(rows)))
finally:
    for process in reversed(started):
        process.terminate()
        process.wait()
    shutil.rmtree(scratch, ignore_errors=True)
