#!/usr/bin/env python3
"""Demuxes the generated sample disc and compares every output with the
elementary streams the generator put into it (both files of the feature)."""

import os
import subprocess
import sys
import tempfile


def records(data):
    """Splits a subpicture output into its "SP" records: (time, unit) pairs.
    A unit states its own size: 2-bit units in their first two bytes, 8-bit
    units (which begin 00 00) in the four bytes after that."""
    out = []
    o = 0
    while o < len(data):
        if data[o:o + 2] != b"SP" or data[o + 6:o + 10] != b"\0\0\0\0":
            raise AssertionError("no record header at offset %d" % o)
        time = int.from_bytes(data[o + 2:o + 6], "little")
        unit = data[o + 10:]
        size = int.from_bytes(unit[2:6], "big") if unit[:2] == b"\0\0" else int.from_bytes(unit[:2], "big")
        out.append((time, unit[:size]))
        o += 10 + size
    return out


def main():
    mkdisc, cli = sys.argv[1], sys.argv[2]
    failures = []
    passes = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        (passes if ok else failures).append(what)

    with tempfile.TemporaryDirectory() as tmp:
        disc, es, out = (os.path.join(tmp, n) for n in ("DISC", "es", "out"))
        os.mkdir(out)
        subprocess.run([mkdisc, disc, "--es", es], check=True, stdout=subprocess.DEVNULL)
        evo = os.path.join(disc, "HVDVD_TS", "FEATURE_1.EVO")
        r = subprocess.run([cli, "demux", "-o", out, evo], capture_output=True, text=True)
        check(r.returncode == 0, "demux exits 0 (%s)" % r.stderr.strip())
        log = r.stdout.splitlines()
        check("Continue on FEATURE_2.EVO" in log, "the demux continues into FEATURE_2.EVO")
        check(log[-1].endswith("count in video stream 0."), "the demux reports the frame count")

        def read(folder, name):
            with open(os.path.join(folder, name), "rb") as f:
                return f.read()

        base = "FEATURE_1_FEATURE_2."
        for output, reference in (("H.264.stream.0.mpv", "video_e2.h264"),
                                  ("DD+.stream.00.mpa", "audio_c0.eac3"),
                                  ("DTSHD.stream.01.mpa", "audio_89.dts"),
                                  ("LPCM.stream.02.mpa", "audio_a2.s16be")):
            got, want = read(out, base + output), read(es, reference)
            check(got == want, "%s equals %s (%d and %d bytes)" % (output, reference, len(got), len(want)))

        frames = read(es, "video_e2.h264").count(b"\0\0\0\1\x09")
        check(log[-1].startswith("%d frames (" % frames), "frame count %d in %r" % (frames, log[-1]))

        for output, reference in (("Subpicture.00.sup", "sub_20.spu"), ("Subpicture.01.sup", "sub_21.spu")):
            try:
                recs = records(read(out, base + output))
            except AssertionError as e:
                check(False, "%s: %s" % (output, e))
                continue
            check(b"".join(u for _, u in recs) == read(es, reference),
                  "%s holds the units of %s, one record each (%d records)" % (output, reference, len(recs)))
            times = [t for t, _ in recs]
            check(len(times) >= 5 and times == [90000 * k for k in range(len(times))],
                  "%s: a caption at each whole second from the video's first frame: %s" % (output, times))

        # The captions as PGS, each written as a PNG and decoded by ffmpeg:
        # text, so many pixels transparent, a few colours, and letters that
        # break a line through them into many runs. (A framed box or noise
        # fails one of these.) The names give each caption's start: whole
        # seconds again.
        pgs = os.path.join(tmp, "pgs")
        os.mkdir(pgs)
        r = subprocess.run([cli, "demux", "--pgs", "--streams", "sub00,sub01", "-o", pgs, evo],
                           capture_output=True, text=True)
        check(r.returncode == 0, "demux --pgs exits 0 (%s)" % r.stderr.strip())
        for stream in ("00", "01"):
            png = os.path.join(tmp, "png" + stream)
            r = subprocess.run([cli, "subs", "--png", png, os.path.join(pgs, base + "Subpicture.%s.sup" % stream)],
                               capture_output=True, text=True)
            names = sorted(os.listdir(png)) if r.returncode == 0 else []
            check(len(names) >= 5 and names == ["0-00-%02d.000.png" % k for k in range(len(names))],
                  "sub%s: a PNG per caption, at whole seconds: %s %s" % (stream, names, r.stderr.strip()))
            for name in names:
                path = os.path.join(png, name)
                size = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=width,height", "-of", "csv=p=0",
                                       path], capture_output=True, text=True).stdout.strip()
                w, h = (int(v) for v in size.split(","))
                rgba = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt",
                                       "rgba", "-"], capture_output=True).stdout
                pixels = [rgba[i:i + 4] for i in range(0, len(rgba), 4)]
                clear = sum(p[3] == 0 for p in pixels)
                opaque = sum(p[3] == 255 for p in pixels)
                colours = len(set(pixels))
                rows = [[p[3] != 0 for p in pixels[y * w:(y + 1) * w]] for y in range(h)]
                crossings = max(sum(a != b for a, b in zip(row, row[1:])) for row in rows) if rows else 0
                check(len(pixels) == w * h and clear >= len(pixels) // 3 and opaque > 0 and colours <= 16 and
                      crossings >= 8,
                      "sub%s %s is text: %dx%d, %.0f %% transparent, %d opaque pixels, %d colours, "
                      "up to %d edges in a line" % (stream, name, w, h, 100.0 * clear / max(1, len(pixels)), opaque,
                                                    colours, crossings))

        # DTS 8F and LPCM A7 share audio slot 7, met in one order in
        # FEATURE_1 and the other in FEATURE_2: the slot's output keeps the
        # stream its box names (Read EVO's, from the last file) in both files.
        shared, out2 = os.path.join(tmp, "SHARED"), os.path.join(tmp, "out2")
        os.mkdir(out2)
        subprocess.run([mkdisc, shared, "--audio-ids", "C5,8F,A7", "--es", es + "2"], check=True,
                       stdout=subprocess.DEVNULL)
        r = subprocess.run([cli, "demux", "-o", out2, os.path.join(shared, "HVDVD_TS", "FEATURE_1.EVO")],
                           capture_output=True, text=True)
        got = read(out2, base + "LPCM.stream.07.mpa")
        check(r.returncode == 0 and got == read(es + "2", "audio_a7.s16be"),
              "a slot shared across the split holds its own stream only (%d bytes, %d DTS frames)" %
              (len(got), got.count(bytes.fromhex("7ffe8001"))))
        check("Stream 8F shares audio slot 7 with stream A7 and is left out." in r.stdout.splitlines(),
              "the other stream is left out with its line")

    print("%d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
