#!/usr/bin/env python3
"""Checks tarnwick-mkdisc's sample disc against ffmpeg/ffprobe, an independent
reader of program streams, and against a walk of the packs by their lengths.

usage: check_mkdisc.py PATH_TO_tarnwick-mkdisc
"""

import array
import json
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import evo_walk  # noqa: E402

failures = []
checks_run = [0]


def check(cond, what):
    checks_run[0] += 1
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)
    return cond


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def ffprobe_json(*args):
    r = run(["ffprobe", "-v", "error", "-of", "json", *args])
    if r.returncode != 0:
        raise RuntimeError("ffprobe failed: %s\n%s" % (" ".join(args), r.stderr))
    return json.loads(r.stdout)


# ---- the designed captions, restated from the generator's intent ----
LATIN_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
JAPANESE_FONT = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf"


def designed_caption(text, font, levels):
    """The caption as the generator means it: `text` drawn by ffmpeg in a
    480x64 picture, light letters with a grey outline on black, each grey
    level put in its class by the thresholds `levels` (class 0 below the
    first: transparent)."""
    w, h = 480, 64
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "t.txt"), "w", encoding="utf-8") as f:
            f.write(text)
        r = subprocess.run(
            ["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "color=c=black:s=%dx%d:r=1" % (w, h), "-vf",
             "drawtext=fontfile=%s:textfile=t.txt:fontsize=46:fontcolor=white:borderw=3:bordercolor=0x606060:"
             "x=(w-text_w)/2:y=(h-text_h)/2,format=gray" % font, "-frames:v", "1", "-f", "rawvideo", "-"],
            capture_output=True, cwd=tmp)
    if r.returncode != 0 or len(r.stdout) != w * h:
        raise RuntimeError("ffmpeg could not draw %r: %s" % (text, r.stderr.decode()))
    return lambda x, y: sum(r.stdout[y * w + x] >= t for t in levels)


def rendered_box(evo, stream, area, margin=6):
    """Renders subpicture stream `stream` with ffmpeg and returns the first
    non-empty frame as rows of RGBA tuples, cropped to the area plus a margin."""
    x, y, w, h = area
    cw, ch = w + 2 * margin, h + 2 * margin
    r = subprocess.run(
        ["ffmpeg", "-nostdin", "-v", "error", "-i", evo, "-filter_complex",
         "[0:s:%d]format=rgba,crop=%d:%d:%d:%d" % (stream, cw, ch, x - margin, y - margin),
         "-vsync", "passthrough", "-f", "rawvideo", "-"], capture_output=True)
    if r.returncode != 0:
        raise RuntimeError("ffmpeg could not render subpicture stream %d: %s" % (stream, r.stderr.decode()))
    frame = cw * ch * 4
    for f in range(len(r.stdout) // frame):
        d = r.stdout[f * frame:(f + 1) * frame]
        if any(d[3::4]):
            return [[tuple(d[(row * cw + col) * 4:(row * cw + col) * 4 + 4]) for col in range(cw)] for row in range(ch)], margin
    return None, margin


def visible(rgba):
    return rgba if rgba[3] else None


def check_box(evo, stream, area, colour_of, label):
    img, m = rendered_box(evo, stream, area)
    if not check(img is not None, "%s: ffmpeg renders a non-empty subpicture" % label):
        return
    x0, y0, w, h = area
    # The opaque pixels are exactly the designed box, and within each row the
    # colour changes exactly where the designed colour changes: a wrong run
    # length in the run-length data would shift or smear them.
    mask_ok = True
    edges_ok = True
    for row in range(len(img)):
        for col in range(len(img[0])):
            bx, by = col - m, row - m
            inside = 0 <= bx < w and 0 <= by < h
            want = inside and colour_of(bx, by) != 0
            if (img[row][col][3] != 0) != want:
                mask_ok = False
        for bx in range(1, w):
            by = row - m
            if not 0 <= by < h:
                continue
            designed = colour_of(bx, by) != colour_of(bx - 1, by)
            # Transparent is transparent whatever colour ffmpeg leaves in it.
            seen = visible(img[row][bx + m]) != visible(img[row][bx - 1 + m])
            if designed != seen:
                edges_ok = False
    check(mask_ok, "%s: opaque pixels are exactly the caption's letters in the %dx%d area at %d,%d" % (label, w, h, x0, y0))
    check(edges_ok, "%s: colour runs in every row match the designed runs" % label)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    mkdisc = os.path.abspath(sys.argv[1])
    for tool in ("ffmpeg", "ffprobe"):
        if run(["sh", "-c", "command -v " + tool]).returncode != 0:
            print("%s is not installed; these checks need it" % tool)
            return 1

    with tempfile.TemporaryDirectory(prefix="mkdisc-check-") as tmp:
        disc, es = os.path.join(tmp, "DISC"), os.path.join(tmp, "es")
        r = run([mkdisc, disc, "--es", es])
        print(r.stdout)
        if not check(r.returncode == 0, "generator exits 0 (stderr: %s)" % r.stderr.strip()):
            return 1
        f1 = os.path.join(disc, "HVDVD_TS", "FEATURE_1.EVO")
        f2 = os.path.join(disc, "HVDVD_TS", "FEATURE_2.EVO")
        whole = os.path.join(tmp, "whole.evo")
        with open(whole, "wb") as out:
            for f in (f1, f2):
                with open(f, "rb") as src:
                    out.write(src.read())

        # ---- the packs, walked by their lengths ----
        packs = {}
        for name, path in (("FEATURE_1", f1), ("FEATURE_2", f2)):
            data = open(path, "rb").read()
            try:
                packs[name] = list(evo_walk.walk(data))
            except ValueError as e:
                check(False, "%s walks pack by pack: %s" % (name, e))
                return 1
            check(len(data) > 0 and len(data) % 2048 == 0, "%s is a whole number of 2048-byte packs" % name)
            check(data[14:18] == b"\x00\x00\x01\xbb", "%s: the first pack carries a system header at byte 14" % name)
            sh = packs[name][0]["system_header"]
            check(sh is not None and (sh[9] >> 2) == 3 and (sh[10] & 0x1F) == 1,
                  "%s: system header has audio_bound 3 and video_bound 1" % name)
            check(all(p["mux_rate"] > 0 for p in packs[name]), "%s: every pack has a mux rate" % name)
        all_packs = packs["FEATURE_1"] + packs["FEATURE_2"]
        scrs = [p["scr"] for p in all_packs]
        check(all(a < b for a, b in zip(scrs, scrs[1:])), "SCR rises from pack to pack across both files")

        total = sum(len(pk) for pk in packs.values()) * 2048
        video = sum(len(p["payload"]) for pk in all_packs for p in pk["packets"] if p["id"] == 0xE2)
        check(0.75 <= video / total <= 0.90, "video is %.1f %% of the bytes (about 80 %%)" % (100.0 * video / total))

        nav = [pk for pk in all_packs if pk["packets"] and pk["packets"][0]["id"] == 0xBF]
        check(all(pk["system_header"] is not None and len(pk["packets"]) == 2 and pk["packets"][1]["id"] == 0xBF
                  and pk["packets"][0]["payload"][0] == 0 and pk["packets"][1]["payload"][0] == 1 for pk in nav),
              "navigation packs hold a system header and two private-stream-2 packets (0x00, 0x01)")
        gaps = [b["scr"] - a["scr"] for a, b in zip(nav, nav[1:])]
        check(len(nav) >= 4 and all(0.3 * 90000 < g < 0.7 * 90000 for g in gaps),
              "a navigation pack about every 0.5 s (%d of them)" % len(nav))

        # Video: PTS (and DTS where it differs) on exactly the packets that open a frame.
        vpk = [p for pk in all_packs for p in pk["packets"] if p["id"] == 0xE2]
        check(len(vpk) > 0 and all(p.get("ext") is None for p in vpk), "no H.264 packet carries a stream_id_extension")
        opens = [p["payload"][:5] == b"\x00\x00\x00\x01\x09" for p in vpk]
        check(all((p["pts"] is not None) == o for p, o in zip(vpk, opens)),
              "video PTS exactly on the packets where a frame starts")
        check(all(p["dts"] is None or p["dts"] < p["pts"] for p in vpk), "video DTS, where present, precedes PTS")

        # Audio substream headers: the first-access-unit pointer lands on a sync word.
        sync = {0xC0: b"\x0b\x77", 0x89: b"\x7f\xfe\x80\x01"}
        for sub, word in sync.items():
            ok = True
            for pk in all_packs:
                for p in pk["packets"]:
                    if p["id"] == 0xBD and p.get("sub") == sub:
                        n, ptr = p["payload"][1], (p["payload"][2] << 8) | p["payload"][3]
                        body = p["payload"][4:]
                        if (p["pts"] is not None) != (n > 0):
                            ok = False
                        if n > 0 and body[ptr - 1:ptr - 1 + len(word)] != word:
                            ok = False
            check(ok, "substream 0x%02X: PTS and frame pointer point at a sync word" % sub)

        # Time stamps run on across the split.
        def pts_of(name, key):
            return [p["pts"] for pk in packs[name] for p in pk["packets"]
                    if p.get("pts") is not None and (p["id"], p.get("sub")) == key]
        for key, step, label in (((0xE2, None), 3754, "video"), ((0xBD, 0xC0), 2880, "DD+"),
                                 ((0xBD, 0x89), 960, "DTS"), ((0xBD, 0xA2), 900, "LPCM")):
            a, b = pts_of("FEATURE_1", key), pts_of("FEATURE_2", key)
            check(a and b and max(a) < min(b) <= max(a) + 3 * step,
                  "%s time stamps continue into FEATURE_2 (%d then %d)" % (label, max(a), min(b)))

        # ---- ffprobe's view ----
        info = ffprobe_json("-show_format", "-show_streams", f1)
        check(info["format"]["format_name"] == "mpeg", "ffprobe sees FEATURE_1 as an MPEG program stream")
        streams = {s.get("id"): s for s in info["streams"]}
        want = {"0x1e2": "h264", "0xc0": "eac3", "0x89": "dts", "0xa2": "pcm_dvd", "0x20": "dvd_subtitle",
                "0x21": "dvd_subtitle"}
        for sid, codec in want.items():
            got = streams.get(sid, {}).get("codec_name")
            check(got == codec, "ffprobe: stream %s is %s (got %s)" % (sid, codec, got))
        v = streams.get("0x1e2", {})
        check((v.get("width"), v.get("height"), v.get("profile"), v.get("r_frame_rate")) ==
              (1920, 1080, "High", "24000/1001"), "ffprobe: H.264 in FEATURE_1 is 1920x1080 High, 24000/1001: %s" %
              [v.get(k) for k in ("width", "height", "profile", "r_frame_rate")])
        check(streams.get("0xc0", {}).get("sample_rate") == "48000" and streams.get("0xc0", {}).get("channels") == 6
              and streams.get("0x89", {}).get("channels") == 2, "ffprobe: audio parameters are read from the frames")

        # The raw H.264 stream: an access unit delimiter opens each frame.
        h264 = os.path.join(es, "video_e2.h264")
        raw = ffprobe_json("-f", "h264", "-count_packets", "-show_streams", h264)["streams"][0]
        delimiters = open(h264, "rb").read().count(b"\x00\x00\x00\x01\x09")
        check(raw.get("codec_name") == "h264" and int(raw.get("nb_read_packets", -1)) == delimiters > 0,
              "raw H.264: ffprobe finds the %d frames that have delimiters" % delimiters)

        # The raw VC-1 stream of a feature made to a size, as the generator
        # wrote it: the synthesised sequence header parses.
        big = os.path.join(tmp, "BIG")
        r = run([mkdisc, big, "--size", "12M", "--seconds", "1", "--es", os.path.join(tmp, "es_big")])
        vc1 = os.path.join(tmp, "es_big", "video_fd55.vc1")
        raw = ffprobe_json("-f", "vc1", "-count_packets", "-show_streams", vc1)["streams"][0]
        check(raw.get("codec_name") == "vc1" and raw.get("profile") == "Advanced" and raw.get("level") == 3,
              "raw VC-1: advanced profile, level 3")
        check((raw.get("width"), raw.get("height")) == (1920, 1080), "raw VC-1: 1920x1080")
        check(raw.get("r_frame_rate") == "24000/1001", "raw VC-1: 24000/1001 frames per second")
        check(raw.get("sample_aspect_ratio") == "1:1" and raw.get("color_primaries") == "bt709",
              "raw VC-1: square samples, BT.709 colour")
        frames = open(vc1, "rb").read().count(b"\x00\x00\x01\x0d")
        check(int(raw.get("nb_read_packets", -1)) == frames,
              "raw VC-1: ffprobe finds the %d frames that have frame start codes" % frames)

        # ---- ffmpeg demuxes the same elementary data back out ----
        outs = {k: os.path.join(tmp, "out." + k) for k in ("eac3", "dts", "h264", "s16be")}
        r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", whole,
                 "-map", "0:a:0", "-c", "copy", "-f", "eac3", outs["eac3"],
                 "-map", "0:a:1", "-c", "copy", "-f", "dts", outs["dts"],
                 "-map", "0:v", "-c", "copy", "-f", "h264", outs["h264"],
                 "-map", "0:a:2", "-f", "s16be", outs["s16be"]])
        check(r.returncode == 0, "ffmpeg copies the streams out of the whole feature (%s)" % r.stderr.strip())
        for k, name in (("eac3", "audio_c0.eac3"), ("dts", "audio_89.dts"), ("h264", "video_e2.h264"),
                        ("s16be", "audio_a2.s16be")):
            a = open(outs[k], "rb").read() if os.path.exists(outs[k]) else b""
            b = open(os.path.join(es, name), "rb").read()
            check(len(b) > 0 and a == b, "ffmpeg's %s equals the generator's elementary stream (%d bytes)" % (k, len(b)))

        # ---- the video and the audio decode without an error ----
        # FEATURE_1 alone ends inside audio frames that finish in FEATURE_2, as
        # a split feature does, so decoding is checked on the two files joined.
        r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", whole, "-map", "0:v", "-map", "0:a", "-dn", "-f", "null", "-"])
        check(r.returncode == 0 and r.stderr.strip() == "",
              "H.264, E-AC-3, DTS and LPCM decode with no error (%s)" % r.stderr.strip())
        r = run(["ffmpeg", "-nostdin", "-v", "error", "-i", f1, "-map", "0:a:0", "-dn", "-f", "null", "-"])
        complaints = [line for line in r.stderr.splitlines() if "incomplete frame" not in line]
        check(r.returncode == 0 and not complaints and r.stderr.count("\n") <= 1,
              "E-AC-3 in FEATURE_1 alone decodes with no error but its last frame cut off at the split")

        # The beep of the second second, a pitch per channel: a listener hears the layout.
        r = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", whole, "-map", "0:a:0", "-f", "s16le", "-"],
                           capture_output=True)
        pcm = array.array("h", r.stdout)
        pitches = []
        for c in range(6):
            beep = pcm[c::6][48000 + 240:48000 + 4560]  # 90 ms of the beep at 1 s
            crossings = sum(1 for a, b in zip(beep, beep[1:]) if (a < 0) != (b < 0))
            pitches.append(round(crossings / 2 / (len(beep) / 48000)))
        check(len(pcm) > 6 * 96000 and all(abs(p - want) <= 0.03 * want
                                           for p, want in zip(pitches, (440, 554, 659, 82, 740, 880))),
              "DD+ 5.1 beeps at 440, 554, 659, 82 (LFE), 740 and 880 Hz, channel by channel: %s" % pitches)

        # ---- both subpicture streams decode and show the designed caption ----
        # The 2-bit unit has letters, outline and antialiasing; the 8-bit
        # unit six shades between background and letters.
        check_box(whole, 0, (720, 960, 480, 64), designed_caption("English 1", LATIN_FONT, (40, 140, 210)),
                  "2-bit subpicture 0x20")
        check_box(whole, 1, (720, 880, 480, 64),
                  designed_caption("\u65e5\u672c\u8a9e 1", JAPANESE_FONT, (40, 110, 150, 180, 210, 240)),
                  "8-bit subpicture 0x21")

        # ---- the extra and the trailer: short titles of their own ----
        for name, seconds, kinds in (("EXTRA", 1.0, {"vc1", "eac3", "dvd_subtitle"}), ("TRAILER", 1.5, {"vc1", "eac3"})):
            path = os.path.join(disc, "HVDVD_TS", name + ".EVO")
            data = open(path, "rb").read() if os.path.exists(path) else b""
            try:
                walked = list(evo_walk.walk(data))
            except ValueError as e:
                walked = []
                check(False, "%s walks pack by pack: %s" % (name, e))
            check(len(data) > 0 and len(walked) * 2048 == len(data) and data[14:18] == b"\x00\x00\x01\xbb",
                  "%s.EVO is %d whole packs, a system header first" % (name, len(walked)))
            probed = ffprobe_json("-show_streams", "-show_format", path) if data else {"streams": [], "format": {}}
            codecs = {st.get("codec_name") for st in probed["streams"]} - {"dvd_nav_packet"}
            check(codecs == kinds, "%s.EVO holds %s: %s" % (name, sorted(kinds), sorted(c or "?" for c in codecs)))
            nav = [pk for pk in walked if pk["packets"] and pk["packets"][0]["id"] == 0xBF]
            check(len(nav) == round(seconds * 90000 / 45045),
                  "%s.EVO holds %d groups of pictures (%.1f s)" % (name, len(nav), seconds))
        xpl = open(os.path.join(disc, "ADV_OBJ", "VPLST000.XPL"), encoding="utf-8").read()
        check(all(('src="file:///dvddisc/HVDVD_TS/%s.MAP"' % n) in xpl for n in ("FEATURE_1", "FEATURE_2", "EXTRA", "TRAILER"))
              and xpl.count("<Title ") == 3, "the playlist has three titles that play the four EVO files")

        # ---- --size and a missing ffmpeg ----
        size = os.path.getsize(os.path.join(big, "HVDVD_TS", "FEATURE_1.EVO")) if r.returncode == 0 else 0
        check(12 << 20 <= size <= (12 << 20) + (2 << 20), "--size 12M gives a FEATURE_1 of %d bytes" % size)
        second = os.path.join(tmp, "SECOND")
        r = run([mkdisc, second, "--second-size", "9M"])
        sizes = [os.path.getsize(os.path.join(second, "HVDVD_TS", n)) if r.returncode == 0 else 0
                 for n in ("FEATURE_1.EVO", "FEATURE_2.EVO")]
        check(sizes[0] < (6 << 20) and 9 << 20 <= sizes[1] <= (9 << 20) + (2 << 20),
              "--second-size 9M gives a FEATURE_2 of %d bytes after a 2 s FEATURE_1 of %d" % (sizes[1], sizes[0]))
        numbered = os.path.join(tmp, "NUMBERED")
        r = run([mkdisc, numbered, "--seconds", "1", "--audio-ids", "C1,8A,A3"])
        ids = {}
        if r.returncode == 0:
            ids = {s.get("id"): s.get("codec_name") for s in
                   ffprobe_json("-show_streams", os.path.join(numbered, "HVDVD_TS", "FEATURE_1.EVO"))["streams"]}
        check(ids.get("0xc1") == "eac3" and ids.get("0x8a") == "dts" and ids.get("0xa3") == "pcm_dvd",
              "--audio-ids C1,8A,A3 moves the three streams to 0xC1, 0x8A and 0xA3")
        r = run([mkdisc, os.path.join(tmp, "BAD"), "--audio-ids", "C0,90,A0"])
        check(r.returncode == 2 and "90" in r.stderr, "--audio-ids rejects an id outside the DTS range")
        # The encodes come from the cache the second time: an ffmpeg that
        # can only tell its version still gives the same disc.
        cache, fake = os.path.join(tmp, "cache"), os.path.join(tmp, "fakebin")
        os.mkdir(fake)
        real = run(["sh", "-c", "command -v ffmpeg"]).stdout.strip()
        with open(os.path.join(fake, "ffmpeg"), "w") as f:
            f.write('#!/bin/sh\ncase "$*" in *-version*) exec %s "$@";; esac\necho "no encoding here" >&2\nexit 1\n' % real)
        os.chmod(os.path.join(fake, "ffmpeg"), 0o755)
        cached = [os.path.join(tmp, n) for n in ("CACHED1", "CACHED2")]
        env = {**os.environ, "TARNWICK_MKDISC_CACHE": cache}
        first = run([mkdisc, cached[0], "--seconds", "1"], env=env)
        again = run([mkdisc, cached[1], "--seconds", "1"], env={**env, "PATH": fake + ":" + os.environ["PATH"]})
        same = first.returncode == 0 and again.returncode == 0 and all(
            open(os.path.join(cached[0], "HVDVD_TS", n), "rb").read() ==
            open(os.path.join(cached[1], "HVDVD_TS", n), "rb").read() for n in ("FEATURE_1.EVO", "FEATURE_2.EVO"))
        check(same, "a second disc takes the encodes from the cache (%s)" % again.stderr.strip())
        r = run([mkdisc, os.path.join(tmp, "UNCACHED"), "--seconds", "1"],
                env={**env, "TARNWICK_MKDISC_CACHE": "off", "PATH": fake + ":" + os.environ["PATH"]})
        check(r.returncode == 1 and "no encoding here" in r.stderr, "with the cache off ffmpeg encodes again")
        r = run([mkdisc, os.path.join(tmp, "NOFF")], env={**os.environ, "PATH": "/nonexistent"})
        check(r.returncode != 0 and "ffmpeg" in r.stderr, "without ffmpeg the generator fails and says why")

    print("%d passed, %d failed" % (checks_run[0] - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
