#!/usr/bin/env python3
"""tarnwick-cli built for Windows (cmake/mingw-w64.cmake) and run under wine
must do what the Linux build does on the same sample disc, reached through
Windows paths: a drive letter, backslashes and a folder named with non-ASCII
characters. Read EVO, a Demux named by the playlist into both files of the
split feature with its chapters file, a Rebuild and a Demux of a file past
4 GiB must print the same log and write the same bytes; a missing input must
fail with the same message.
Windows alone: an output that is an input under another spelling of its path
(case, separators) is refused.

usage: wine_check.py MKDISC LINUX_CLI WINDOWS_CLI WORK_DIR
WORK_DIR keeps the wine prefix between runs (its first start takes seconds).
"""

import difflib
import itertools
import json
import os
import shutil
import subprocess
import sys

WINE = os.environ.get("TARNWICK_WINE", "/usr/lib/wine/wine64")
# Named with characters outside every ANSI code page at once, so that a path
# that went through one instead of UTF-16 cannot come out right.
DISC_FOLDER = "Disque é ü 日本"


def main():
    mkdisc, linux_cli, windows_cli, work = sys.argv[1:5]
    work = os.path.abspath(work)
    failures = []
    passes = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        (passes if ok else failures).append(what)
        return ok

    root = os.path.join(work, "run", DISC_FOLDER)
    shutil.rmtree(os.path.join(work, "run"), ignore_errors=True)
    os.makedirs(root)
    subprocess.run([mkdisc, os.path.join(root, "DISC")], check=True, stdout=subprocess.DEVNULL)
    # wine maps Z: to the root of the Unix file system.
    root_w = "Z:" + root.replace("/", "\\")

    def linux_path(*parts):
        return os.path.join(root, *parts)

    def windows_path(*parts):
        return "\\".join((root_w,) + parts)

    prefix = os.path.join(work, "prefix")
    os.makedirs(prefix, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    server = os.path.join(os.path.dirname(WINE), "wineserver")
    # One wine session for every run: the server stays up between them (and
    # goes 30 s after the last one, should this script not reach its end).
    subprocess.run([server, "-p30"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    run_number = itertools.count(1)

    def run_windows(args):
        # To files, not pipes: the services wine starts beside the program keep
        # its standard handles open, and a pipe would not end with the program.
        # New files for each run: what those services print late (the prefix
        # set-up's last line, on a busy machine) stays in the first run's.
        n = next(run_number)
        out_path, err_path = (os.path.join(work, "run", "%s.%d" % (name, n)) for name in ("stdout", "stderr"))
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            status = subprocess.run([WINE, windows_cli] + args, env=env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err).returncode
        with open(out_path, "rb") as out, open(err_path, "rb") as err:
            return status, out.read(), err.read()

    def run_linux(args):
        r = subprocess.run([linux_cli] + args, capture_output=True)
        return r.returncode, r.stdout.decode("utf-8"), r.stderr.decode("utf-8")

    def windows_text(raw, what):
        """The program's text as the Linux build would print it. Standard
        output and error are in text mode on Windows: every line ends in CR LF,
        as other Windows programs' do. Paths differ in the drive prefix and
        the separators only (the disc's own names hold no backslash)."""
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError as e:
            check(False, "%s is UTF-8: %s" % (what, e))
            return ""
        if raw.count(b"\r") != raw.count(b"\n") or raw.count(b"\r\n") != raw.count(b"\n"):
            check(False, "%s: every line ends in CR LF, nothing else has a CR" % what)
        return "\n".join(linux_paths(line) for line in text.replace("\r\n", "\n").split("\n"))

    def linux_paths(line):
        at = line.find(root_w)
        return line if at < 0 else line[:at] + root + line[at + len(root_w):].replace("\\", "/")

    def same_text(linux, windows, what):
        if linux == windows:
            return check(True, "%s: the same (%d lines)" % (what, linux.count("\n")))
        diff = difflib.unified_diff(linux.split("\n"), windows.split("\n"), "linux", "windows", lineterm="", n=1)
        print("\n".join(list(diff)[:40]))
        return check(False, "%s: the same" % what)

    def contents(path):
        if not os.path.exists(path):
            return b""
        with open(path, "rb") as f:
            return f.read()

    def same_files(linux_dir, windows_dir, what, count):
        names = sorted(os.listdir(linux_dir))
        check(len(names) == count and sorted(os.listdir(windows_dir)) == names,
              "%s: the same %d file names (%s)" % (what, count, ", ".join(sorted(os.listdir(windows_dir)))))
        total = 0
        for name in names:
            a, b = contents(os.path.join(linux_dir, name)), contents(os.path.join(windows_dir, name))
            total += len(a)
            if a != b or not a:
                check(False, "%s: %s the same bytes (%d and %d)" % (what, name, len(a), len(b)))
        check(total > 0, "%s: %d bytes compared" % (what, total))

    def both(what, args, out_folder=None):
        """Runs the command on each build, outputs in the same folder of the
        disc's, and compares exit status, standard output and error."""
        folder = linux_path(out_folder) if out_folder else None
        if folder:
            os.mkdir(folder)
        lin = run_linux(args(linux_path))
        if folder:
            os.rename(folder, folder + ".linux")
            os.mkdir(folder)
        status, out, err = run_windows(args(windows_path))
        check(status == lin[0], "%s: exit status %d on both (windows: %d)" % (what, lin[0], status))
        same_text(lin[1], windows_text(out, what + " output"), what + ": standard output")
        same_text(lin[2], windows_text(err, what + " error"), what + ": standard error")
        return lin

    try:
        status, out, err = run_windows(["--version"])  # sets the prefix up
        check(status == 0 and out.startswith(b"tarnwick-cli "), "the .exe starts: %r %r" % (out, err[-300:]))

        evo = ("DISC", "HVDVD_TS", "FEATURE_1.EVO")
        xpl = ("DISC", "ADV_OBJ", "VPLST000.XPL")

        # The report's paths are JSON strings: compared once they are read.
        lin = run_linux(["read", "--json", linux_path(*evo)])
        status, out, err = run_windows(["read", "--json", windows_path(*evo)])
        if check(status == 0, "read --json exits 0 (%s)" % err.decode("utf-8", "replace").strip()):
            report = json.loads(windows_text(out, "read --json"))
            check(report["file"] == windows_path(*evo) and
                  report["secondFile"] == windows_path("DISC", "HVDVD_TS", "FEATURE_2.EVO"),
                  "read --json names both files as Windows paths: %s, %s" % (report["file"], report["secondFile"]))
            report["file"], report["secondFile"] = linux_paths(report["file"]), linux_paths(report["secondFile"])
            same_text(json.dumps(json.loads(lin[1]), indent=1, ensure_ascii=False),
                      json.dumps(report, indent=1, ensure_ascii=False), "read --json")

        lin = both("demux --xpl --chapters",
                   lambda p: ["demux", "-o", p("out"), "--xpl", p(*xpl), "--chapters", p("out", "Chapitres é.txt"),
                              p(*evo)], "out")
        check("Continue on FEATURE_2.EVO" in lin[1].split("\n") and "English Director's Commentary" in lin[1],
              "the demux goes on into FEATURE_2.EVO and names its outputs after the playlist")
        # Six streams and the chapters file.
        same_files(linux_path("out.linux"), linux_path("out"), "demux", 7)

        both("rebuild", lambda p: ["rebuild", "-o", p("rebuilt"), "--streams", "video0,audio01,sub01", p(*evo)],
             "rebuilt")
        same_files(linux_path("rebuilt.linux"), linux_path("rebuilt"), "rebuild", 1)

        # Past 4 GiB: a sparse file with the feature's packs at its start and
        # again after the 4 GiB mark. The size, the positions and the packs
        # read there must not wrap at 2^32 (about 10 s under wine).
        feature = open(linux_path(*evo), "rb").read()
        with open(linux_path("Gros é.EVO"), "wb") as big:
            big.write(feature)
            big.seek((1 << 32) + (6 << 20))
            big.write(feature)
            size = big.tell()
        lin = both("demux past 4 GiB", lambda p: ["demux", "-o", p("big"), p("Gros é.EVO")], "big")
        check("File size: %d Mbytes." % (size // 1048576) in lin[1].split("\n"),
              "past 4 GiB: the log gives the size, %d Mbytes" % (size // 1048576))
        same_files(linux_path("big.linux"), linux_path("big"), "demux past 4 GiB", 6)
        # The video of the copy past 4 GiB is that of the one at the start,
        # which is FEATURE_1's part of the feature's video.
        video = contents(linux_path("big", "Gros é.H.264.stream.0.mpv"))
        first = video[:len(video) // 2]
        feature_video = contents(linux_path("out", "FEATURE_1_FEATURE_2.H.264.stream.0.mpv"))
        check(first and video == first + first and feature_video.startswith(first),
              "past 4 GiB: the video after the mark is the video at the start (%d bytes each)" % len(first))

        lin = both("read of a missing file", lambda p: ["read", p("Absent é.EVO")])
        check(lin[0] == 1 and "No such file" in lin[2], "a missing file: " + lin[2].strip())

        # The playlist under another spelling of its path: another case and
        # "/" for "\". Only the file's identity can tell it is the input.
        before = open(linux_path(*xpl), "rb").read()
        other = windows_path(*xpl).lower().replace("\\", "/")
        status, out, err = run_windows(["xpl", "--chapters", other, windows_path(*xpl), windows_path(*evo)])
        check(status == 1 and windows_text(err, "xpl error").startswith(
            'Cannot create file "%s". It is an input file of this command' % other),
            "the playlist as its own chapters file is refused: %s" % err.decode("utf-8", "replace").strip())
        check(open(linux_path(*xpl), "rb").read() == before, "the playlist is left as it was")
    finally:
        subprocess.run([server, "-k"], env=env)

    print("%d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
