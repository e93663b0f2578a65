#!/usr/bin/env python3
"""`tarnwick-cli mkv` on the sample disc, checked by the peers that read
Matroska: mkvmerge -J for the tracks, names, languages, flags, title and
chapters; mkvextract for the bytes and the chapters; ffprobe for the timing.
Then the ways a run can fail, each leaving neither an MKV nor temporary files:
no mkvmerge, one too old, one that dies in the middle, no room."""

import json
import os
import stat
import subprocess
import sys
import tempfile

FRAME = 1001 / 24000  # the sample disc's video frame, in seconds


def main():
    mkdisc, cli = sys.argv[1], sys.argv[2]
    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    def run(args, **kw):
        return subprocess.run(args, capture_output=True, text=True, **kw)

    def tracks_of(mkv):
        return json.loads(run(["mkvmerge", "-J", mkv]).stdout)

    with tempfile.TemporaryDirectory() as tmp:
        disc = os.path.join(tmp, "DISC")
        subprocess.run([mkdisc, disc], check=True, stdout=subprocess.DEVNULL)
        xpl = os.path.join(disc, "ADV_OBJ", "VPLST000.XPL")
        evo = os.path.join(disc, "HVDVD_TS", "FEATURE_1.EVO")
        # Blanks, quotes and non-ASCII letters reach mkvmerge unchanged.
        out = os.path.join(tmp, "out 'q' \"dq\" é")
        os.mkdir(out)
        mkv = os.path.join(out, "FEATURE_1_FEATURE_2.mkv")

        r = run([cli, "mkv", "--xpl", xpl, "-o", out, evo])
        check(r.returncode == 0, "mkv exits 0: " + r.stderr.strip()[-400:])
        check(sorted(os.listdir(out)) == ["FEATURE_1_FEATURE_2.mkv"],
              "only the MKV is left in the folder: %s" % sorted(os.listdir(out)))
        info = tracks_of(mkv)
        tracks = info.get("tracks", [])
        props = [t["properties"] for t in tracks]
        check([t["codec"] for t in tracks] == ["VC-1", "E-AC-3", "DTS", "PCM", "HDMV PGS", "HDMV PGS"],
              "one track per stream, in the order of the lists: %s" % [t["codec"] for t in tracks])
        check([p.get("default_track") for p in props] == [True, True, False, False, False, False],
              "video and the first audio track are default, nothing else: %s"
              % [p.get("default_track") for p in props])
        names = [p.get("track_name") for p in props]
        check(names[1:] == ["English", "English Director's Commentary", "Français", "English", "日本語"],
              "the playlist's descriptions name the tracks: %s" % names)
        languages = [p.get("language") for p in props]
        check(languages[1:] == ["eng", "eng", "fre", "eng", "jpn"], "languages from the playlist: %s" % languages)
        check(info["container"]["properties"].get("title") == "The Sample Feature", "the title")
        check(info.get("chapters") == [{"num_entries": 3}], "three chapters: %s" % info.get("chapters"))

        chapters = run(["mkvextract", mkv, "chapters", "--simple", "-"]).stdout
        check("CHAPTER02=00:00:01.000" in chapters and "CHAPTER03NAME=Épilogue" in chapters,
              "mkvextract gives back the playlist's chapters")

        # Timing: each audio track starts at its delay from the video; one
        # that starts before the video loses what lies before 0, so it starts
        # within one of its frames after 0 and holds the end of Demux's bytes.
        report = json.loads(run([cli, "read", "--json", evo]).stdout)
        delays = {s["box"]: s["delayMs"] for s in report["streams"]}
        # The streams start in the first file: its delays, whatever the second file's are.
        alone = json.loads(run([cli, "read", "--json", "--no-continue", evo]).stdout)
        check(delays == {s["box"]: s["delayMs"] for s in alone["streams"]},
              "the delays are the first file's: %s" % delays)
        packets = json.loads(run(["ffprobe", "-v", "error", "-show_entries", "packet=stream_index,pts_time,dts_time",
                                  "-of", "json", mkv]).stdout)["packets"]
        first = {}
        video = []
        for p in packets:
            t = float(p.get("pts_time", p.get("dts_time")) if p.get("pts_time", "N/A") != "N/A" else p["dts_time"])
            first.setdefault(p["stream_index"], t)
            if p["stream_index"] == 0:
                video.append(t)
        plain = os.path.join(tmp, "plain")
        os.mkdir(plain)
        check(run([cli, "demux", "-o", plain, evo]).returncode == 0, "demux for comparison")
        for track, box, name in ((1, "audio00", "DD+.stream.00.mpa"), (2, "audio01", "DTSHD.stream.01.mpa"),
                                 (3, "audio02", None)):
            delay = delays[box]
            start = (first[track] - first[0]) * 1000
            ok = abs(start - delay) <= 1 if delay >= 0 else 0 <= start < 33
            check(ok, "%s starts at %.1f ms, its delay is %d ms" % (box, start, delay))
            if name is None:
                continue
            extracted = os.path.join(tmp, "track%d" % track)
            run(["mkvextract", mkv, "tracks", "%d:%s" % (track, extracted)])
            with open(extracted, "rb") as a, open(os.path.join(plain, "FEATURE_1_FEATURE_2." + name), "rb") as b:
                got, demuxed = a.read(), b.read()
            same = got == demuxed if delay >= 0 else len(got) > len(demuxed) // 2 and demuxed.endswith(got)
            check(same, "track %d extracts as Demux's %s: %d bytes against %d" % (track, name, len(got), len(demuxed)))
        times = sorted(video)
        check(len(times) == 96, "both files' 96 frames: %d" % len(times))
        gaps = [b - a for a, b in zip(times, times[1:])]
        check(max(gaps) < 1.5 * FRAME, "no gap at the join: largest step %.4f s" % max(gaps))
        # The video's own extent (the file runs on to the last caption's end).
        extent = times[-1] + FRAME
        check(abs(extent - 96 * FRAME) <= FRAME, "video %.3f s against the source's %.3f s" % (extent, 96 * FRAME))

        # --keep-streams keeps the demuxed streams, never a partial MKV.
        kept = os.path.join(tmp, "kept")
        os.mkdir(kept)
        r = run([cli, "mkv", "--keep-streams", "--streams", "video0,audio00,sub01", "-o", kept, evo])
        folder = os.path.join(kept, "FEATURE_1_FEATURE_2.mkv-streams")
        check(r.returncode == 0 and os.path.isdir(folder), "--keep-streams keeps the folder")
        check(sorted(f for f in os.listdir(folder) if f.endswith((".mpv", ".mpa", ".sup"))) ==
              ["FEATURE_1_FEATURE_2.DD+.stream.00.mpa", "FEATURE_1_FEATURE_2.Subpicture.01.sup",
               "FEATURE_1_FEATURE_2.VC-1.stream.0.mpv"] and not any(f.endswith(".mkv") for f in os.listdir(folder)),
              "the kept streams: %s" % sorted(os.listdir(folder)))
        check(len(tracks_of(os.path.join(kept, "FEATURE_1_FEATURE_2.mkv")).get("tracks", [])) == 3, "three tracks")

        # LPCM as WAV: 24-bit 5.1 and 16-bit mono from ffmpeg's own DVD
        # encoder; the MKV's samples equal ffmpeg's decoding of the source.
        lpcm = os.path.join(tmp, "lpcm")
        os.mkdir(lpcm)
        vob = os.path.join(lpcm, "t.vob")
        made = run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=352x288:rate=25",
                    "-f", "lavfi", "-i", "anoisesrc=r=48000:a=0.3,aformat=channel_layouts=5.1(side)",
                    "-f", "lavfi", "-i", "sine=f=440:r=48000", "-map", "0", "-map", "1", "-map", "2", "-t", "2",
                    "-c:v", "mpeg2video", "-c:a:0", "pcm_dvd", "-sample_fmt:a:0", "s32", "-c:a:1", "pcm_dvd",
                    "-sample_fmt:a:1", "s16", "-f", "vob", vob])
        check(made.returncode == 0 and run([cli, "mkv", vob]).returncode == 0, "an MKV of a VOB with LPCM")
        lpcm_tracks = [(t["properties"].get("audio_channels"), t["properties"].get("audio_bits_per_sample"))
                       for t in tracks_of(os.path.join(lpcm, "t.mkv")).get("tracks", []) if t["codec"] == "PCM"]
        check(lpcm_tracks == [(6, 24), (1, 16)], "the LPCM tracks as WAV: %s" % lpcm_tracks)
        for n in range(2):
            samples = [subprocess.run(["ffmpeg", "-v", "error", "-i", f, "-map", "0:a:%d" % n, "-f", "s32le", "-"],
                                      capture_output=True).stdout for f in (vob, os.path.join(lpcm, "t.mkv"))]
            check(len(samples[0]) > 100000 and samples[0] == samples[1], "LPCM stream %d: the same samples" % n)

        # Runs that fail. A stand-in for mkvmerge: it answers --version as
        # told, and otherwise starts writing the MKV its option file names
        # and ends as told.
        fake = os.path.join(tmp, "fake-mkvmerge")
        with open(fake, "w") as f:
            f.write("""#!/usr/bin/env python3
import json, os, signal, sys
if sys.argv[1] == "--version":
    print(os.environ["FAKE_VERSION"]); sys.exit(0)
args = json.load(open(sys.argv[1][1:]))
open(args[args.index("--output") + 1], "wb").write(b"partial")
print("#GUI#progress 40%", flush=True)
if os.environ["FAKE_END"] == "killed": os.kill(os.getpid(), signal.SIGKILL)
print("#GUI#error No space left on device", flush=True)
sys.exit(2)
""")
        os.chmod(fake, os.stat(fake).st_mode | stat.S_IEXEC)
        cases = [
            ("no mkvmerge", ["--mkvmerge", os.path.join(tmp, "nowhere", "mkvmerge")], {}, "mkvmerge was not found"),
            ("an old mkvmerge", ["--mkvmerge", fake], {"FAKE_VERSION": "mkvmerge v40.0.0 ('Old') 64-bit"},
             "mkvmerge 51 or newer is needed"),
            ("mkvmerge killed", ["--mkvmerge", fake],
             {"FAKE_VERSION": "mkvmerge v74.0.0 ('x') 64-bit", "FAKE_END": "killed"}, "mkvmerge failed"),
            ("mkvmerge's error", ["--mkvmerge", fake],
             {"FAKE_VERSION": "mkvmerge v74.0.0 ('x') 64-bit", "FAKE_END": "error"}, "No space left on device"),
        ]
        for what, args, env, message in cases:
            folder = os.path.join(tmp, what.replace(" ", "-").replace("'", ""))
            os.mkdir(folder)
            r = run([cli, "mkv", "-o", folder] + args + [evo], env=dict(os.environ, **env))
            check(r.returncode == 1 and message in r.stderr and os.listdir(folder) == [],
                  "%s: exit %d, %r, left %s" % (what, r.returncode, r.stderr.strip()[-200:], os.listdir(folder)))

        # Too little room: refused before anything is written (needs a
        # tmpfs, which only root can mount).
        small = os.path.join(tmp, "small")
        os.mkdir(small)
        if run(["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", small]).returncode == 0:
            try:
                r = run([cli, "mkv", "-o", small, evo])
                check(r.returncode == 1 and "Not enough room in " + small in r.stderr and os.listdir(small) == [],
                      "no room: %r, left %s" % (r.stderr.strip()[-200:], os.listdir(small)))
            finally:
                run(["umount", small])
        else:
            print("skip the room check: no tmpfs can be mounted here")

    if failures:
        print("%d checks failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
