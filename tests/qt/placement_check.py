#!/usr/bin/env python3
"""The window under a real window manager (Xvfb and openbox): closed and opened
again it comes back where it was, at the same size, and a place saved off
every screen is brought back onto one. Offscreen tests have no frame to see
this with.

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
    """Opens the window, moves it if asked, closes it as the user does."""
    proc = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wid = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "Tarnwick"], env=env,
                             capture_output=True, text=True, timeout=20).stdout.split()[0]
        time.sleep(1.5)  # the frame and the restored placement settle
        if move_to:
            subprocess.run(["xdotool", "windowmove", wid, *map(str, move_to)], env=env, check=True)
            time.sleep(0.5)
        subprocess.run(["wmctrl", "-c", "Tarnwick"], env=env, check=True)
        proc.wait(timeout=20)
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
        try:
            session(program, env, move_to=(300, 150))
            moved, path = settings(home)
            for run in (1, 2, 3):
                session(program, env)
                again, _ = settings(home)
                if again != moved:
                    failures.append(f"reopening {run}: {again} after {moved}")
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
            wm.terminate()
            xvfb.terminate()
    for failure in failures:
        print("FAIL", failure)
    print(f"{4 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
