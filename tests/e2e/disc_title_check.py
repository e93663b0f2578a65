#!/usr/bin/env python3
"""Commands that take a disc folder: the main feature by default, a title by
number, its tracks labelled and its chapters from that title (mkvmerge -J and
mkvextract read the MKV back), languages chosen, outputs beside the disc, and
the mistakes a user makes given one clear message each."""

import json
import os
import shutil
import subprocess
import sys
import tempfile

from checks import Checks, run


def main():
    mkdisc, cli = sys.argv[1], sys.argv[2]
    check = Checks()

    def tracks(mkv):
        info = json.loads(run(["mkvmerge", "-J", mkv]).stdout)
        names = [(t["type"], t["properties"].get("language"), t["properties"].get("track_name")) for t in info["tracks"]]
        return info["container"]["properties"].get("title"), names

    with tempfile.TemporaryDirectory() as tmp:
        disc = os.path.join(tmp, "Sample Disc")
        subprocess.run([mkdisc, disc], check=True, stdout=subprocess.DEVNULL)

        # No title named: the main feature, named after it, beside the disc.
        r = run([cli, "mkv", disc])
        mkv = os.path.join(tmp, "The Sample Feature.mkv")
        check(r.returncode == 0 and os.path.exists(mkv), "mkv DISC writes The Sample Feature.mkv beside the disc: " + r.stderr)
        title, names = tracks(mkv)
        check(title == "The Sample Feature", "the MKV's title is the title's name: %r" % title)
        check(names == [("video", "und", "H.264"), ("audio", "eng", "English"),
                        ("audio", "eng", "English Director's Commentary"), ("audio", "fre", "Français"),
                        ("subtitles", "eng", "English"), ("subtitles", "jpn", "日本語")],
              "the feature's tracks, named and with languages: %r" % names)
        chapters = run(["mkvextract", mkv, "chapters", "-s", "-"]).stdout
        check("CHAPTER03NAME=Épilogue" in chapters and "CHAPTER04" not in chapters,
              "the feature's three chapters: %r" % chapters)
        check(r.stdout.startswith("Title 1: The Sample Feature (HVDVD_TS/FEATURE_1.EVO, HVDVD_TS/FEATURE_2.EVO)\n"),
              "the log names the title and its files: %r" % r.stdout[:120])

        # Title 2 by number, its German subtitles only: labelled by title 2,
        # not by the title of the feature.
        out = os.path.join(tmp, "out")
        os.mkdir(out)
        r = run([cli, "mkv", "-o", out, "--title", "2", "--sub-langs", "deu", "--chapters",
                 os.path.join(out, "extra.txt"), disc])
        title, names = tracks(os.path.join(out, "Making Of.mkv"))
        check(r.returncode == 0 and title == "Making Of" and
              names == [("video", "und", "VC-1"), ("audio", "eng", "English"), ("subtitles", "ger", "Deutsch")],
              "--title 2 --sub-langs deu: %r %r %s" % (title, names, r.stderr))
        with open(os.path.join(out, "extra.txt"), encoding="utf-8") as f:
            check(f.read() == "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Making Of\n", "title 2's chapters file")

        # Demux and rebuild take the disc the same way; rebuild's output sits beside it.
        r = run([cli, "rebuild", "--title", "3", disc])
        rebuilt = os.path.join(tmp, "TRAILER.rebuilt.EVO")
        check(r.returncode == 0 and os.path.getsize(rebuilt) > 0, "rebuild --title 3 writes TRAILER.rebuilt.EVO: " + r.stderr)
        r = run([cli, "demux", "-o", out, "--title", "3", "--streams", "audio00", disc])
        check(r.returncode == 0 and os.listdir(out).count("TRAILER.DD+.6ch.stream.00.English.mpa") == 1,
              "demux --title 3 --streams audio00: %r %s" % (sorted(os.listdir(out)), r.stderr))

        # The same disc as a UDF image: the same titles, the same bytes out,
        # read where they lie in the image (nothing mounted or extracted).
        image = os.path.join(tmp, "Sample.iso")
        subprocess.run([mkdisc, os.path.join(tmp, "again"), "--image", image], check=True, stdout=subprocess.DEVNULL)
        shutil.rmtree(os.path.join(tmp, "again"))
        from_image = os.path.join(tmp, "from image")
        os.mkdir(from_image)
        r = run([cli, "mkv", "-o", from_image, "--keep-streams", image])
        check(r.returncode == 0, "mkv IMAGE: " + r.stderr)
        check(tracks(os.path.join(from_image, "The Sample Feature.mkv")) == tracks(mkv),
              "the image's MKV has the folder's title and tracks")
        folder_streams = os.path.join(tmp, "from folder")
        os.mkdir(folder_streams)
        run([cli, "mkv", "-o", folder_streams, "--keep-streams", disc])
        a = os.path.join(from_image, "The Sample Feature.mkv-streams")
        b = os.path.join(folder_streams, "The Sample Feature.mkv-streams")
        # mkvmerge's options file names the folders, which differ.
        streams = sorted(f for f in os.listdir(a) if f != "mkvmerge-options.json")
        same = streams == sorted(f for f in os.listdir(b) if f != "mkvmerge-options.json") and all(
            open(os.path.join(a, f), "rb").read() == open(os.path.join(b, f), "rb").read() for f in streams)
        check(same and len(streams) == 7, "the image's streams are the folder's, byte for byte: %r" % sorted(os.listdir(a)))
        r = run([cli, "mkv", "-o", from_image, "--title", "2", "--sub-langs", "de", "--chapters",
                 os.path.join(from_image, "extra.txt"), image])
        title, names = tracks(os.path.join(from_image, "Making Of.mkv"))
        check(r.returncode == 0 and names[-1] == ("subtitles", "ger", "Deutsch") and
              os.path.getsize(os.path.join(from_image, "extra.txt")) > 0,
              "the image's own playlist gives --sub-langs and --chapters: %s" % r.stderr)
        r = run([cli, "rebuild", "-o", from_image, "--title", "3", image])
        with open(os.path.join(from_image, "TRAILER.rebuilt.EVO"), "rb") as f, open(rebuilt, "rb") as g:
            check(r.returncode == 0 and f.read() == g.read(), "rebuild out of the image equals the folder's")
        with open(image, "rb") as f:
            head = f.read(3000000)
        for name, data, text in [("junk.iso", b"\x00\x00\x01\xba" + bytes(100000), "It holds no UDF file system."),
                                 ("cut.iso", head, "It is truncated")]:
            with open(os.path.join(tmp, name), "wb") as f:
                f.write(data)
            r = run([cli, "mkv", "-o", out, os.path.join(tmp, name)])
            check(r.returncode == 1 and ('Cannot open disc image "%s". ' % os.path.join(tmp, name)) in r.stderr and text in r.stderr,
                  "%s: %r" % (name, r.stderr))

        # A DVD's title set: its parts joined in order, as the whole file
        # would be read; no rebuild of a DVD title.
        whole = os.path.join(disc, "HVDVD_TS", "TRAILER.EVO")
        with open(whole, "rb") as f:
            data = f.read()
        dvd = os.path.join(tmp, "DVD")
        os.makedirs(os.path.join(dvd, "VIDEO_TS"))
        cut = [0, len(data) // 2048 // 3 * 2048, len(data) // 2048 * 2 // 3 * 2048, len(data)]
        for part in range(3):
            with open(os.path.join(dvd, "VIDEO_TS", "VTS_01_%d.VOB" % (part + 1)), "wb") as f:
                f.write(data[cut[part]:cut[part + 1]])
        joined, alone = os.path.join(tmp, "joined"), os.path.join(tmp, "alone")
        os.mkdir(joined)
        os.mkdir(alone)
        r = run([cli, "demux", "-o", joined, dvd])
        run([cli, "demux", "-o", alone, "--no-continue", whole])
        parts = sorted(os.listdir(joined))
        check(r.returncode == 0 and "Continue on VTS_01_2.VOB\n" in r.stdout and "Continue on VTS_01_3.VOB\n" in r.stdout
              and len(parts) == 2 and all(p.startswith("VTS_01_1_VTS_01_3.") for p in parts),
              "a DVD title's three parts are read in turn: %r %s" % (parts, r.stderr))
        same = all(open(os.path.join(joined, p), "rb").read() ==
                   open(os.path.join(alone, p.replace("VTS_01_1_VTS_01_3.", "TRAILER.")), "rb").read() for p in parts)
        check(same, "and give the bytes the whole file gives")
        r = run([cli, "rebuild", "-o", joined, dvd])
        check(r.returncode == 2 and "only EVO files are rebuilt" in r.stderr, "rebuild of a DVD title: %r" % r.stderr)
        shutil.rmtree(joined)
        shutil.rmtree(alone)

        # Mistakes: one message each, nothing written.
        before = sorted(os.listdir(tmp))
        for args, status, text in [
            (["demux", "--title", "9", disc], 1, 'The disc "%s" has no title 9 (its titles: 1, 2, 3).' % disc),
            (["demux", "--no-continue", disc], 2, "--no-continue: a disc's title plays all its files"),
            (["read", "--title", "2", os.path.join(disc, "HVDVD_TS", "EXTRA.EVO")], 2, "is a file, not a disc"),
            (["mkv", "--audio-langs", "de", "--title", "2", disc], 1, "No audio track in de: the title's audio tracks are in eng."),
        ]:
            r = run([cli] + args)
            check(r.returncode == status and text in r.stderr, "%s: exit %d, %r" % (" ".join(args[:3]), r.returncode, r.stderr))
        os.remove(os.path.join(disc, "HVDVD_TS", "FEATURE_2.EVO"))
        r = run([cli, "demux", "--title", "1", disc])
        check(r.returncode == 1 and "plays HVDVD_TS/FEATURE_2.EVO, which is not on the disc." in r.stderr,
              "a title whose file is missing: %r" % r.stderr)
        check(sorted(os.listdir(tmp)) == before, "the failures wrote nothing: %r" % sorted(os.listdir(tmp)))

    return check.status()


if __name__ == "__main__":
    sys.exit(main())
