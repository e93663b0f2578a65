#!/usr/bin/env python3
"""The window under a real window manager (Xvfb and openbox): closed and opened
again it comes back where it was, at the same size, also while both
processors are busy (the frame then comes late), and a place saved off every
screen is brought back onto one. Offscreen tests have no frame to see this
with.

usage: placement_check.py TARNWICK
Exits 77 (skipped) when Xvfb, openbox, xdotool or wmctrl is missing."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time


def settings(home):
    path = os.path.join(home, ".config", "Corvane Software", "Tarnwick.ini")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return {k: int(v) for k, v in re.findall(r"^(Top|Left|Width|Height)=(-?\d+)$", text, re.M)}, path


def session(program, env, move_to=None):
    """Opens the window, moves it if asked, closes it as the user does.
    Returns the window's own size as the X server has it."""
    proc = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wid = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "Tarnwick"], env=env,
                             capture_output=True, text=True, timeout=60).stdout.split()[0]
        time.sleep(1.5)  # the frame and the restored placement settle
        if move_to:
            subprocess.run(["xdotool", "windowmove", wid, *map(str, move_to)], env=env, check=True)
            time.sleep(0.5)
        geometry = subprocess.run(["xdotool", "getwindowgeometry", wid], env=env, capture_output=True,
                                  text=True).stdout
        size = re.search(r"Geometry: (\d+x\d+)", geometry)
        subprocess.run(["wmctrl", "-c", "Tarnwick"], env=env, check=True)
        proc.wait(timeout=30)
        return size.group(1) if size else geometry
    finally:
        if proc.poll() is None:
            proc.kill()


def main():
    program = sys.argv[1]
    for tool in ("Xvfb", "openbox", "xdotool", "wmctrl"):
        if shutil.which(tool) is None:
            print(f"skipped: {tool} is not installed")
            return 77
    display = f":{100 + os.getpid() % 100}"
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, DISPLAY=display, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
        env.pop("QT_QPA_PLATFORM", None)
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24"], stderr=subprocess.DEVNULL)
        time.sleep(1)
        wm = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        failures = []
        busy = []
        try:
            # Fresh settings: the window manager's place, then eight reopenings
            # with both processors busy, as while a build runs: the window
            # manager's frame comes late. Bounded: the loops end with the check.
            first_size = session(program, env)
            saved, path = settings(home)
            busy = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(4)]
            for run in range(1, 9):
                size = session(program, env)
                again, _ = settings(home)
                if again != saved or size != first_size:
                    failures.append(f"reopening {run} under load: {size} and {again} after {first_size} and {saved}")
            for loop in busy:
                loop.kill()
            busy = []
            # Moved by the user: it comes back there.
            session(program, env, move_to=(300, 150))
            moved, _ = settings(home)
            if session(program, env) != first_size or settings(home)[0] != moved:
                failures.append(f"a moved window came back as {settings(home)[0]}, not {moved} at {first_size}")
            # A place on a screen that is gone.
            with open(path, encoding="utf-8") as f:
                text = f.read()
            with open(path, "w", encoding="utf-8") as f:
                f.write(re.sub(r"^Top=-?\d+$", "Top=-3000", text, flags=re.M))
            session(program, env)
            back, _ = settings(home)
            if not 0 <= back["Top"] < 800 or (back["Width"], back["Height"]) != (moved["Width"], moved["Height"]):
                failures.append(f"a place off the screen came back as {back}")
        finally:
            for loop in busy:
                loop.kill()
            wm.terminate()
            xvfb.terminate()
    for failure in failures:
        print("FAIL", failure)
    print(f"{10 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
