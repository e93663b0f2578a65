#!/usr/bin/env python3
"""`tarnwick-cli mkv` on the sample disc, checked by the peers that read
Matroska: mkvmerge -J for the tracks, names, languages, flags, title and
chapters; mkvextract for the bytes and the chapters; ffprobe for the timing.
Then delays the sample disc lacks (audio late and early, a subpicture
stream 6.75 hours late, the first file alone ending inside a frame), an
output folder with backslashes in its name, the ways a run can fail, each
leaving neither an MKV nor temporary files (no mkvmerge, one too old, one
that dies in the middle, its errors, no room), and Ctrl+C and SIGTERM."""

import json
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

FRAME = 1001 / 24000  # the sample disc's video frame, in seconds
HOUR = 3600 * 90000  # in 90 kHz ticks


def shift_pts(path, substreams, ticks):
    """Moves the time stamps of the private-stream-1 packets of these
    substreams by `ticks`, in place; returns how many were moved."""
    data = bytearray(open(path, "rb").read())
    moved = 0
    for pack in range(0, len(data) - 14, 2048):
        if data[pack:pack + 4] != b"\x00\x00\x01\xba":
            continue
        p = pack + 14 + (data[pack + 13] & 7)
        while p + 9 <= pack + 2048 and data[p:p + 3] == b"\x00\x00\x01":
            length = int.from_bytes(data[p + 4:p + 6], "big")
            if data[p + 3] == 0xBD and data[p + 7] & 0x80 and data[p + 9 + data[p + 8]] in substreams:
                b = data[p + 9:p + 14]
                pts = ((b[0] >> 1) & 7) << 30 | b[1] << 22 | (b[2] >> 1) << 15 | b[3] << 7 | b[4] >> 1
                pts = (pts + ticks) % (1 << 33)
                data[p + 9:p + 14] = bytes([(b[0] & 0xF1) | ((pts >> 30) & 7) << 1, (pts >> 22) & 0xFF,
                                            ((pts >> 15) & 0x7F) << 1 | 1, (pts >> 7) & 0xFF, (pts & 0x7F) << 1 | 1])
                moved += 1
            p += 6 + length
    open(path, "wb").write(data)
    return moved


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

    def packet_times(mkv):
        """Per track the times of its packets in the MKV, in ms from the
        video's first (the first track is the video)."""
        packets = json.loads(run(["ffprobe", "-v", "error", "-show_entries",
                                  "packet=stream_index,pts_time,dts_time", "-of", "json", mkv]).stdout)["packets"]
        times = {}
        for p in packets:
            t = p.get("pts_time", "N/A")
            t = float(t if t != "N/A" else p["dts_time"])
            times.setdefault(p["stream_index"], []).append(t * 1000)
        return {k: [round(t - min(times[0]), 3) for t in v] for k, v in times.items()}

    def extract(mkv, track, to):
        run(["mkvextract", mkv, "tracks", "%d:%s" % (track, to)])
        with open(to, "rb") as f:
            return f.read()

    def read_bytes(path):
        with open(path, "rb") as f:
            return f.read()

    def copy_disc(name):
        copy = os.path.join(tmp, name)
        shutil.copytree(disc, copy)
        return os.path.join(copy, "HVDVD_TS")

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
        check([t["codec"] for t in tracks] == ["AVC/H.264/MPEG-4p10", "E-AC-3", "DTS", "PCM", "HDMV PGS", "HDMV PGS"],
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

        # Delays that the sample disc (every one 0) leaves untried: audio
        # that starts 200 ms after the video starts at +200 ms in the MKV.
        late = copy_disc("late")
        for f in ("FEATURE_1.EVO", "FEATURE_2.EVO"):
            shift_pts(os.path.join(late, f), {0xC0}, 18000)
        late_evo = os.path.join(late, "FEATURE_1.EVO")
        late_delays = {s["box"]: s["delayMs"] for s in json.loads(run([cli, "read", "--json", late_evo]).stdout)["streams"]}
        check(late_delays["audio00"] == 200, "audio00 200 ms late: delayMs %s" % late_delays["audio00"])
        r = run([cli, "mkv", "--streams", "video0,audio00", "-o", late, late_evo])
        late_mkv = os.path.join(late, "FEATURE_1_FEATURE_2.mkv")
        start = packet_times(late_mkv)[1][0] if r.returncode == 0 else None
        check(start is not None and abs(start - 200) <= 1, "audio 200 ms late starts at %s ms in the MKV" % start)
        late_plain = os.path.join(tmp, "late-plain")
        os.mkdir(late_plain)
        run([cli, "demux", "--streams", "audio00", "-o", late_plain, late_evo])
        check(r.returncode == 0 and extract(late_mkv, 1, os.path.join(tmp, "late.eac3")) ==
              read_bytes(os.path.join(late_plain, "FEATURE_1_FEATURE_2.DD+.stream.00.mpa")),
              "the late audio track extracts as Demux's")

        # Audio 300 ms before the video: the PGS times count from the audio's
        # start, yet the captions keep their times from the video's start,
        # the ones they have when every stream starts together.
        early = copy_disc("early")
        for f in ("FEATURE_1.EVO", "FEATURE_2.EVO"):
            shift_pts(os.path.join(early, f), {0xC0, 0x89, 0xA2}, -27000)
        early_evo = os.path.join(early, "FEATURE_1.EVO")
        early_report = json.loads(run([cli, "read", "--json", early_evo]).stdout)["streams"]
        early_delays = {s["box"]: s["delayMs"] for s in early_report}
        check([early_delays[b] for b in ("audio00", "audio01", "audio02", "sub00", "sub01")] == [-300, -300, -300, 0, 0],
              "audio 300 ms early, subpictures as they were: %s" % early_delays)
        r = run([cli, "mkv", "--streams", "video0,audio00,sub00,sub01", "-o", early, early_evo])
        early_times = packet_times(os.path.join(early, "FEATURE_1_FEATURE_2.mkv")) if r.returncode == 0 else {}
        sample_times = packet_times(mkv)
        # In step with the video: each caption starts at a whole second from
        # its first frame and is gone 0.853 s later (the stop delay, 75 units
        # of 1024 ticks) or when the next starts.
        for track in (4, 5):
            got = sample_times.get(track, [])
            check(all(k * 1000 in got for k in range(5)) and all(t % 1000 in (0, 853) for t in got),
                  "track %d's captions start at whole seconds of the video: %s" % (track, got))
        for track, sample_track, box in ((2, 4, "sub00"), (3, 5, "sub01")):
            got = early_times.get(track, [])
            check(got and got[0] == early_delays[box] and got == sample_times[sample_track],
                  "%s's captions at their time from the video's start: %s against %s"
                  % (box, got[:4], sample_times[sample_track][:4]))
        check(early_times and 0 <= early_times[1][0] < 33, "the early audio starts within a frame after 0")

        # Issue 24's fault 7: subpicture 0x21 of FEATURE_1 moved 6.75 hours
        # later, past 2^31 ticks from the video. Its delay is after the video
        # (no 32-bit wrap), its captions stand there in the MKV, and the
        # audio tracks extract as Demux's, byte for byte.
        late_sub = copy_disc("late-sub")
        late_sub_evo = os.path.join(late_sub, "FEATURE_1.EVO")
        check(shift_pts(late_sub_evo, {0x21}, 24300 * 90000) > 0, "subpicture 0x21 moved")
        sub_report = json.loads(run([cli, "read", "--json", late_sub_evo]).stdout)["streams"]
        sub_delay = {s["box"]: s["delayMs"] for s in sub_report}["sub01"]
        check(sub_delay == 24300000, "sub01 starts 6.75 hours after the video: delayMs %d" % sub_delay)
        for alone in (False, True):
            what = "FEATURE_1 alone" if alone else "both files"
            out_dir = os.path.join(tmp, "late-sub-" + str(alone))
            plain_dir = out_dir + "-plain"
            os.mkdir(out_dir)
            os.mkdir(plain_dir)
            options = ["--no-continue"] if alone else []
            r = run([cli, "mkv"] + options + ["-o", out_dir, late_sub_evo])
            run([cli, "demux"] + options + ["-o", plain_dir, late_sub_evo])
            base = "FEATURE_1" if alone else "FEATURE_1_FEATURE_2"
            out_mkv = os.path.join(out_dir, base + ".mkv")
            check(r.returncode == 0, "mkv of %s exits 0: %s" % (what, r.stderr.strip()[-300:]))
            if r.returncode != 0:
                continue
            times = packet_times(out_mkv)
            check(abs(times[5][0] - 24300000) <= 1, "%s: sub01's first caption at %.0f ms" % (what, times[5][0]))
            # FEATURE_1 alone ends inside a DTS frame of the sample disc: the
            # log names what the MKV leaves out, and nothing else is lost.
            cut_total = 0
            for track, name in ((1, "DD+.stream.00.mpa"), (2, "DTSHD.stream.01.mpa")):
                demuxed = read_bytes(os.path.join(plain_dir, base + "." + name))
                got = extract(out_mkv, track, os.path.join(out_dir, "track%d" % track))
                said = re.search(re.escape(base + "." + name) + r" ends inside a frame: its last (\d+) bytes", r.stdout)
                cut = int(said.group(1)) if said else 0
                cut_total += cut
                check(got == demuxed[:len(demuxed) - cut],
                      "%s: track %d extracts as Demux's %s less the %d bytes the log names: %d bytes against %d"
                      % (what, track, name, cut, len(got), len(demuxed)))
            check((cut_total > 0) == alone, "%s: an incomplete last frame logged: %d bytes" % (what, cut_total))

        # --keep-streams keeps the demuxed streams, never a partial MKV.
        kept = os.path.join(tmp, "kept")
        os.mkdir(kept)
        r = run([cli, "mkv", "--keep-streams", "--streams", "video0,audio00,sub01", "-o", kept, evo])
        folder = os.path.join(kept, "FEATURE_1_FEATURE_2.mkv-streams")
        check(r.returncode == 0 and os.path.isdir(folder), "--keep-streams keeps the folder")
        check(sorted(f for f in os.listdir(folder) if f.endswith((".mpv", ".mpa", ".sup"))) ==
              ["FEATURE_1_FEATURE_2.DD+.stream.00.mpa", "FEATURE_1_FEATURE_2.H.264.stream.0.mpv",
               "FEATURE_1_FEATURE_2.Subpicture.01.sup"] and not any(f.endswith(".mkv") for f in os.listdir(folder)),
              "the kept streams: %s" % sorted(os.listdir(folder)))
        check(len(tracks_of(os.path.join(kept, "FEATURE_1_FEATURE_2.mkv")).get("tracks", [])) == 3, "three tracks")
        # H.264 gets the frame rate read from its sequence's timing, as VC-1 gets its header's.
        options_file = os.path.join(folder, "mkvmerge-options.json")
        options = json.load(open(options_file, encoding="utf-8")) if os.path.exists(options_file) else []
        video_file = options.index(os.path.join(folder, "FEATURE_1_FEATURE_2.H.264.stream.0.mpv")) \
            if os.path.join(folder, "FEATURE_1_FEATURE_2.H.264.stream.0.mpv") in options else 0
        check(options[video_file - 2:video_file] == ["--default-duration", "0:24000/1001p"],
              "the H.264 track's rate is given to mkvmerge: %s" % options[max(0, video_file - 2):video_file])

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

        # The option file is JSON: an output folder whose name holds
        # backslashes (as every Windows path does) reaches mkvmerge unchanged,
        # "\\n" and "\\t" in it included.
        slashed = os.path.join(tmp, "back\\slash \\new\\t")
        os.mkdir(slashed)
        r = run([cli, "mkv", "--streams", "video0,audio00,sub00", "-o", slashed, evo])
        check(r.returncode == 0 and sorted(os.listdir(slashed)) == ["FEATURE_1_FEATURE_2.mkv"] and
              len(tracks_of(os.path.join(slashed, "FEATURE_1_FEATURE_2.mkv")).get("tracks", [])) == 3,
              "a folder with backslashes in its name: exit %d, %r, left %s"
              % (r.returncode, r.stderr.strip()[-200:], os.listdir(slashed)))

        # Dolby Digital (the frame size table, where E-AC-3 has a size
        # field): a VOB from ffmpeg cut at a pack inside the audio. The log
        # names the incomplete last frame, and the track holds Demux's bytes
        # up to it (less the frames before 0 of its negative delay).
        cut_dir = os.path.join(tmp, "ac3-cut")
        os.mkdir(cut_dir)
        cut_vob = os.path.join(cut_dir, "t.vob")
        made = run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=352x288:rate=25",
                    "-f", "lavfi", "-i", "sine=f=440:r=48000", "-map", "0", "-map", "1", "-t", "3",
                    "-c:v", "mpeg2video", "-c:a", "ac3", "-b:a", "448k", "-f", "vob", cut_vob])
        os.truncate(cut_vob, (os.path.getsize(cut_vob) // 2048 - 40) * 2048)
        r = run([cli, "mkv", cut_vob])
        os.mkdir(os.path.join(cut_dir, "plain"))
        run([cli, "demux", "-o", os.path.join(cut_dir, "plain"), cut_vob])
        demuxed = read_bytes(os.path.join(cut_dir, "plain", "t.DD.stream.00.mpa"))
        said = re.search(r"t\.DD\.stream\.00\.mpa ends inside a frame: its last (\d+) bytes", r.stdout)
        cut = int(said.group(1)) if said else 0
        got = extract(os.path.join(cut_dir, "t.mkv"), 1, os.path.join(cut_dir, "track1")) if r.returncode == 0 else b""
        check(made.returncode == 0 and cut > 0 and len(got) > len(demuxed) // 2 and
              demuxed[:len(demuxed) - cut].endswith(got),
              "Dolby Digital cut inside a frame: %d bytes logged, %d extracted of %d" % (cut, len(got), len(demuxed)))

        # Runs that fail. A stand-in for mkvmerge: it answers --version as
        # told, and otherwise starts writing the MKV its option file names
        # and ends as told.
        fake = os.path.join(tmp, "fake-mkvmerge")
        with open(fake, "w") as f:
            f.write("""#!/usr/bin/env python3
import json, os, signal, sys, time
if sys.argv[1] == "--version":
    print(os.environ["FAKE_VERSION"]); sys.exit(0)
args = json.load(open(sys.argv[1][1:]))
open(args[args.index("--output") + 1], "wb").write(b"partial")
if os.environ["FAKE_END"] == "bare":
    # A progress line rewritten in place, then an error with no line end.
    sys.stdout.write("#GUI#progress 40%\\r#GUI#error The disk went away"); sys.stdout.flush(); sys.exit(2)
print("#GUI#progress 40%", flush=True)
if os.environ["FAKE_END"] == "killed": os.kill(os.getpid(), signal.SIGKILL)
if os.environ["FAKE_END"] == "slow":
    open(os.environ["FAKE_PID"], "w").write(str(os.getpid()))
    time.sleep(120)
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
            # The oldest version taken gets as far as muxing.
            ("mkvmerge 51", ["--mkvmerge", fake],
             {"FAKE_VERSION": "mkvmerge v51.0.0 ('Wind of Change') 64-bit", "FAKE_END": "error"},
             "No space left on device"),
            # A carriage return ends a line, and the last line counts without one.
            ("mkvmerge's error without a line end", ["--mkvmerge", fake],
             {"FAKE_VERSION": "mkvmerge v74.0.0 ('x') 64-bit", "FAKE_END": "bare"}, "exit status 2): The disk went away"),
        ]
        for what, args, env, message in cases:
            folder = os.path.join(tmp, what.replace(" ", "-").replace("'", ""))
            os.mkdir(folder)
            r = run([cli, "mkv", "-o", folder] + args + [evo], env=dict(os.environ, **env))
            check(r.returncode == 1 and message in r.stderr and os.listdir(folder) == [],
                  "%s: exit %d, %r, left %s" % (what, r.returncode, r.stderr.strip()[-200:], os.listdir(folder)))

        # Ctrl+C (SIGINT to the whole process group, as a terminal sends it)
        # or SIGTERM to tarnwick-cli alone: the run stops as Cancel stops it,
        # with exit status 130. mkv leaves no folder and no MKV, and its
        # mkvmerge is ended; demux and rebuild leave their outputs as far as
        # they got.
        # A 4 GiB input (the sample's first file and a sparse tail) keeps the
        # demux going long after its outputs are created.
        sparse = copy_disc("sparse")
        big = os.path.join(sparse, "FEATURE_1.EVO")
        os.remove(os.path.join(sparse, "FEATURE_2.EVO"))
        os.truncate(big, 4 << 30)
        pid_file = os.path.join(tmp, "fake.pid")

        def interrupt(what, command, input_path, ready, group, expect_left, env=None):
            folder = os.path.join(tmp, "signal-" + what.replace(" ", "-"))
            os.mkdir(folder)
            p = subprocess.Popen([cli] + command + ["-o", folder, input_path], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, start_new_session=True, env=env)
            deadline = time.time() + 60
            while not ready(folder) and p.poll() is None and time.time() < deadline:
                time.sleep(0.01)
            if p.poll() is None:
                if group:
                    os.killpg(p.pid, signal.SIGINT)
                else:
                    os.kill(p.pid, signal.SIGTERM)
            try:
                _, err = p.communicate(timeout=60)
            except subprocess.TimeoutExpired:
                p.kill()
                _, err = p.communicate()
            left = sorted(os.listdir(folder))
            check(p.returncode == 130 and expect_left(left),
                  "%s: exit %s, %r, left %s" % (what, p.returncode, err.decode(errors="replace").strip()[-200:], left))

        def streams_created(folder):
            inner = [os.path.join(folder, f) for f in os.listdir(folder)]
            return any(os.path.isdir(f) and len(os.listdir(f)) >= 6 for f in inner)

        interrupt("Ctrl+C during the mkv run's demux", ["mkv"], big, streams_created, True, lambda left: left == [])
        interrupt("Ctrl+C during demux", ["demux"], big, lambda folder: len(os.listdir(folder)) >= 6, True,
                  lambda left: len(left) == 6 and not any(f.endswith(".mkv") for f in left))
        interrupt("Ctrl+C during rebuild", ["rebuild"], big, lambda folder: len(os.listdir(folder)) >= 1, True,
                  lambda left: left == ["FEATURE_1.rebuilt.EVO"])
        for what, group in (("Ctrl+C while mkvmerge runs", True), ("SIGTERM while mkvmerge runs", False)):
            if os.path.exists(pid_file):
                os.remove(pid_file)
            env = dict(os.environ, FAKE_VERSION="mkvmerge v74.0.0 ('x') 64-bit", FAKE_END="slow", FAKE_PID=pid_file)
            interrupt(what, ["mkv", "--mkvmerge", fake, "--streams", "video0,audio00"], evo,
                      lambda folder: os.path.exists(pid_file) and os.path.getsize(pid_file) > 0, group,
                      lambda left: left == [], env)
            ended = False
            if os.path.exists(pid_file) and os.path.getsize(pid_file) > 0:
                fake_pid = int(read_bytes(pid_file))
                try:
                    os.kill(fake_pid, 0)
                except ProcessLookupError:
                    ended = True
            check(ended, "%s: mkvmerge is ended" % what)

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
