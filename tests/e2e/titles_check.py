#!/usr/bin/env python3
"""tarnwick-cli titles on the sample disc: the JSON array read by Python's
own json module, checked against the files on the disc; the listing a user
reads; the main feature moving when a file of the feature is gone; and a
folder that is no disc."""

import json
import os
import subprocess
import sys
import tempfile

from checks import Checks, run

EXPECTED = [
    # number, name, durationMs, main, clips, audio, subtitles, chapters
    (1, "The Sample Feature", 4000, True, ["FEATURE_1.EVO", "FEATURE_2.EVO"],
     [(1, "eng", "English"), (2, "eng", "English Director's Commentary"), (3, "fre", "Français")],
     [(1, "eng", "English"), (2, "jpn", "日本語")], 3),
    (2, "Making Of", 1000, False, ["EXTRA.EVO"], [(1, "eng", "English")], [(1, "ger", "Deutsch")], 1),
    (3, "Trailer", 1500, False, ["TRAILER.EVO"], [(1, "eng", "English")], [], 1),
]


def main():
    mkdisc, cli = sys.argv[1], sys.argv[2]
    check = Checks()

    def tracks(items):
        return [(t["streamNumber"], t["language"], t["description"]) for t in items]

    with tempfile.TemporaryDirectory() as tmp:
        disc = os.path.join(tmp, "DISC")
        subprocess.run([mkdisc, disc], check=True, stdout=subprocess.DEVNULL)
        size = {n: os.path.getsize(os.path.join(disc, "HVDVD_TS", n)) for n in os.listdir(os.path.join(disc, "HVDVD_TS"))}

        r = run([cli, "titles", "--json", disc])
        check(r.returncode == 0 and r.stderr == "", "titles --json exits 0, nothing on stderr: " + r.stderr.strip())
        titles = json.loads(r.stdout)
        check(isinstance(titles, list) and len(titles) == 3, "an array of three titles")
        for t, (number, name, ms, main, clips, audio, subs, chapters) in zip(titles, EXPECTED):
            what = "title %d" % number
            check(set(t) == {"number", "name", "durationMs", "main", "clips", "audio", "subtitles", "chapters"},
                  "%s has exactly the documented fields: %s" % (what, sorted(t)))
            check((t["number"], t["name"], t["durationMs"], t["main"]) == (number, name, ms, main),
                  "%s: number, name, duration and main: %s" % (what, (t["number"], t["name"], t["durationMs"], t["main"])))
            check([(c["path"], c["bytes"], c["exists"]) for c in t["clips"]] ==
                  [("HVDVD_TS/" + c, size[c], True) for c in clips],
                  "%s plays %s in order, with their sizes on the disc" % (what, clips))
            check(tracks(t["audio"]) == audio and tracks(t["subtitles"]) == subs,
                  "%s: tracks and languages: %s %s" % (what, tracks(t["audio"]), tracks(t["subtitles"])))
            check(t["chapters"] == chapters, "%s has %d chapters" % (what, chapters))

        r = run([cli, "titles", disc])
        shown = r.stdout.splitlines()
        check(r.returncode == 0 and shown[0] == disc + ': 3 titles in its playlist "Tarnwick Sample Disc"'
              and "Title 1: The Sample Feature  (main feature)" in shown
              and "  Files:     HVDVD_TS/FEATURE_1.EVO  %d bytes" % size["FEATURE_1.EVO"] in shown
              and "  Subtitles: 1  ger  Deutsch" in shown and "Title 3: Trailer" in shown,
              "the listing names the disc, each title, its files and tracks, and the main feature")

        os.remove(os.path.join(disc, "HVDVD_TS", "FEATURE_2.EVO"))
        titles = json.loads(run([cli, "titles", "--json", disc]).stdout)
        check([t["main"] for t in titles] == [False, False, True]
              and titles[0]["clips"][1] == {"path": "HVDVD_TS/FEATURE_2.EVO", "bytes": None, "exists": False},
              "without FEATURE_2.EVO the feature is not played: the trailer, the longest left, is the main feature")
        r = run([cli, "titles", disc])
        check("  Files:     HVDVD_TS/FEATURE_1.EVO  %d bytes" % size["FEATURE_1.EVO"] in r.stdout.splitlines()
              and "             HVDVD_TS/FEATURE_2.EVO  missing from the disc" in r.stdout.splitlines()
              and "Title 3: Trailer  (main feature)" in r.stdout, "the listing says which file is missing")

        empty = os.path.join(tmp, "EMPTY")
        os.mkdir(empty)
        untitled = os.path.join(tmp, "UNTITLED")
        os.makedirs(os.path.join(untitled, "ADV_OBJ"))
        with open(os.path.join(untitled, "ADV_OBJ", "VPLST000.XPL"), "w") as f:
            f.write("<Playlist>\n</Playlist>\n")
        for path, message in ((empty, 'Cannot list the titles of "%s". It holds no playlist' % empty),
                              (untitled, 'Cannot list the titles of "%s". Its playlist ADV_OBJ/VPLST000.XPL holds '
                                         'no title.' % untitled),
                              (os.path.join(tmp, "NONE"), 'Cannot open disc "%s". It does not exist.' % os.path.join(tmp, "NONE"))):
            r = run([cli, "titles", "--json", path])
            check(r.returncode == 1 and r.stdout == "" and r.stderr.startswith(message),
                  "%s: exit %d, %r" % (os.path.basename(path), r.returncode, r.stderr.strip()))

    return check.status()


if __name__ == "__main__":
    sys.exit(main())
