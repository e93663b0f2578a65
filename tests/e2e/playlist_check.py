#!/usr/bin/env python3
"""The sample disc's playlist end to end: Read XPL names the title's tracks
and gives their languages, a Demux after it names its outputs after them
(same bytes as without the playlist), and the chapters file is read by
mkvmerge with the playlist's names and times. The sample's playlist leaves
out mediaAttr where discs do (the video and the first audio track)."""

import json
import os
import shutil
import subprocess
import sys
import tempfile

# Box names and the captions each command gives them on the sample disc.
PLAIN = {
    "H.264.stream.0.mpv": "H.264.stream.0.mpv",
    "DD+.stream.00.mpa": "DD+.6ch.stream.00.English.mpa",
    "DTSHD.stream.01.mpa": "DTS-HD.2ch.stream.01.English Director's Commentary.mpa",
    "LPCM.stream.02.mpa": "LPCM.2ch.stream.02.Français.mpa",
    "Subpicture.00.sup": "2bitRLC.stream.00.English.sup",
    "Subpicture.01.sup": "8bitRLC.stream.01.日本語.sup",
}
# Chapter starts of a 2-second-per-file disc at 60 frames per second.
CHAPTERS = [("00:00:00.000", "Opening"), ("00:00:01.000", "The Middle"), ("00:00:02.250", "Épilogue")]
# The languages of the TrackNavigationList's langcodes ("jp" is Japanese).
LANGUAGES = {"video0": "und", "audio00": "eng", "audio01": "eng", "audio02": "fre", "sub00": "eng", "sub01": "jpn"}


def main():
    mkdisc, cli = sys.argv[1], sys.argv[2]
    failures = []
    passes = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        (passes if ok else failures).append(what)

    def run(args, **kw):
        return subprocess.run(args, capture_output=True, text=True, **kw)

    with tempfile.TemporaryDirectory() as tmp:
        disc = os.path.join(tmp, "DISC")
        subprocess.run([mkdisc, disc], check=True, stdout=subprocess.DEVNULL)
        xpl = os.path.join(disc, "ADV_OBJ", "VPLST000.XPL")
        evo = os.path.join(disc, "HVDVD_TS", "FEATURE_1.EVO")

        report = run([cli, "xpl", "--json", xpl, evo])
        check(report.returncode == 0, "xpl --json exits 0: " + report.stderr.strip())
        data = json.loads(report.stdout)
        check(data["title"] == {"name": "The Sample Feature", "duration": "00:00:04:00", "timeBase": "60fps"},
              "the title that plays FEATURE_1: %s" % data["title"])
        labels = {t["box"]: t["label"] for t in data["tracks"]}
        check(labels.get("audio01") == "DTS-HD.2ch.stream.01.English Director's Commentary",
              "the DTS track's label: %s" % labels.get("audio01"))
        check(len(data["tracks"]) == 6, "six tracks, the second file's repeats not listed again")
        languages = {t["box"]: t["language"] for t in data["tracks"]}
        check(languages == LANGUAGES, "the tracks' languages: %s" % languages)
        check([c["startMs"] for c in data["chapters"]] == [0, 1000, 2250], "chapter starts in ms")

        shown = run([cli, "xpl", xpl, evo]).stdout.split("\n")
        memo = shown[shown.index("Done.") + 2:]
        memo = memo[:memo.index("")]
        check(memo[0].startswith('    <Title id="Feature"') and memo[-1] == "    </Title>"
              and not any("Trailer" in line for line in memo),
              "the listing is cut to the feature's title: %s ... %s" % (memo[0][:30], memo[-1]))

        listing = run([cli, "xpl", xpl])
        check(listing.returncode == 0 and "Trailer" in listing.stdout and "found!" not in listing.stdout,
              "xpl without an EVO lists the whole playlist and labels nothing")

        plain, named, chosen = (os.path.join(tmp, n) for n in ("plain", "named", "chosen"))
        for d in (plain, named, chosen):
            os.mkdir(d)
        chapters = os.path.join(named, "chapters.txt")
        subprocess.run([cli, "demux", "-o", plain, evo], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([cli, "demux", "-o", named, "--xpl", xpl, "--chapters", chapters, evo], check=True,
                       stdout=subprocess.DEVNULL)
        base = "FEATURE_1_FEATURE_2."
        for plain_name, named_name in PLAIN.items():
            a, b = os.path.join(plain, base + plain_name), os.path.join(named, base + named_name)
            same = os.path.exists(b) and open(a, "rb").read() == open(b, "rb").read()
            check(same, "%s holds the bytes of %s" % (named_name, plain_name))
        check(sorted(os.listdir(named)) == sorted([base + n for n in PLAIN.values()] + ["chapters.txt"]),
              "the named demux wrote exactly the playlist's tracks and the chapters")

        subprocess.run([cli, "demux", "-o", chosen, "--xpl", xpl, "--streams", "audio01", evo], check=True,
                       stdout=subprocess.DEVNULL)
        check(os.listdir(chosen) == [base + PLAIN["DTSHD.stream.01.mpa"]],
              "--streams after --xpl picks among the playlist's boxes: %s" % os.listdir(chosen))

        # The playlist names the boxes but leaves the scan's stream table as
        # the read left it, so a rebuild after it still drops what is unticked.
        rebuilt_dir = os.path.join(tmp, "rebuilt")
        os.mkdir(rebuilt_dir)
        made = run([cli, "rebuild", "-o", rebuilt_dir, "--xpl", xpl, "--streams", "video0,audio01,sub01", evo])
        check(made.returncode == 0, "rebuild --xpl --streams exits 0: " + made.stderr.strip())
        rebuilt = os.path.join(rebuilt_dir, "FEATURE_1_FEATURE_2.rebuilt.EVO")
        kept = json.loads(run([cli, "read", "--json", "--no-continue", rebuilt]).stdout)["streams"]
        check([(k["box"], k["streamId"]) for k in kept] == [("video0", 0xE2), ("audio00", 0x88), ("sub00", 0x20)],
              "the rebuilt file keeps the video, the DTS track and the second subtitle, renumbered: %s"
              % [(k["box"], hex(k["streamId"])) for k in kept])

        if not shutil.which("mkvmerge"):
            check(False, "mkvmerge is installed (Debian's mkvtoolnix)")
        else:
            audio, mkv = os.path.join(tmp, "a.mka"), os.path.join(tmp, "c.mkv")
            subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "sine=d=5", "-c:a", "libopus", audio],
                           check=True)
            merged = run(["mkvmerge", "-o", mkv, "--chapters", chapters, audio])
            check(merged.returncode == 0, "mkvmerge takes the chapters file: " + merged.stdout[-300:])
            info = json.loads(run(["mkvmerge", "-J", mkv]).stdout)
            check(info.get("chapters") == [{"num_entries": 3}], "mkvmerge -J sees 3 chapters: %s" % info.get("chapters"))
            simple = run(["mkvextract", mkv, "chapters", "--simple", "-"]).stdout.splitlines()
            seen = [(simple[i].split("=", 1)[1], simple[i + 1].split("=", 1)[1]) for i in range(0, len(simple) - 1, 2)]
            check(seen == CHAPTERS, "the muxed chapters' times and names: %s" % seen)

            # A chapter without a name of its own is named by its number, and
            # mkvmerge takes the language our table gives Japanese.
            unnamed_xpl, unnamed = os.path.join(tmp, "VPLST001.XPL"), os.path.join(tmp, "unnamed.txt")
            text = open(xpl, encoding="utf-8").read()
            with open(unnamed_xpl, "w", encoding="utf-8") as f:
                f.write(text.replace(' displayName="The Middle"', ""))
            made = run([cli, "xpl", "--chapters", unnamed, unnamed_xpl, evo])
            check(made.returncode == 0, "xpl --chapters on the playlist without the name: " + made.stderr.strip())
            merged = run(["mkvmerge", "-o", mkv, "--language", "0:" + str(languages.get("sub01")),
                          "--chapters", unnamed, audio])
            check(merged.returncode == 0, "mkvmerge takes both: " + merged.stdout[-300:])
            info = json.loads(run(["mkvmerge", "-J", mkv]).stdout)
            language = info["tracks"][0]["properties"].get("language") if info.get("tracks") else None
            check(language == "jpn", "mkvmerge keeps the language jpn: %s" % language)
            simple = run(["mkvextract", mkv, "chapters", "--simple", "-"]).stdout.splitlines()
            names = [line.split("=", 1)[1] for line in simple if "NAME=" in line]
            check(names == ["Opening", "Chapter 02", "Épilogue"], "the unnamed chapter's name: %s" % names)

    print("%d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
