#!/usr/bin/env python3
"""Picture, sound and subtitles in sync, end to end. Each whole second of
the sample feature starts with a white frame (the flash), a beep on every
audio track and a new caption on each subtitle track. ffmpeg decodes what
three ways of making a Matroska file give: `tarnwick-cli mkv`; demux (PGS)
followed by mkvmerge; and rebuild followed by `mkv` on the rebuilt EVO.
For every second, the flash, each beep and each caption must agree within
one frame, across the join of FEATURE_1 and FEATURE_2; and the file must
decode without a complaint."""

import array
import glob
import os
import sys
import tempfile

from checks import Checks, run

FRAME = 1001 / 24000  # the feature's frame, in seconds
RATE = 48000


def flashes(mkv):
    """Times of the white frames: mean luma near white, on a small copy."""
    r = run(["ffprobe", "-v", "error", "-f", "lavfi", "-i", "movie='%s',scale=96:54,signalstats" % mkv.replace("'", r"\'"),
             "-show_entries", "frame=pts_time:frame_tags=lavfi.signalstats.YAVG", "-of", "csv=p=0"])
    times, frames = [], 0
    for line in r.stdout.split():
        t, luma = line.split(",")[:2]
        frames += 1
        if float(luma) > 220:
            times.append(float(t))
    return times, frames


def beeps(mkv, track):
    """Onsets of the beeps on the first channel of audio track `track`, on
    the file's timeline (silence is put before a track that starts late)."""
    r = run_bytes(["ffmpeg", "-v", "error", "-i", mkv, "-map", "0:a:%d" % track, "-af",
                   "pan=mono|c0=c0,aresample=async=1:first_pts=0", "-ar", str(RATE), "-f", "s16le", "-"])
    samples = array.array("h")
    samples.frombytes(r)
    if sys.byteorder == "big":
        samples.byteswap()
    onsets, last = [], -RATE
    for i, v in enumerate(samples):
        if v > 3000 or v < -3000:
            if i - last > RATE // 2:
                onsets.append(i / RATE)
            last = i
    return onsets


def captions(mkv, track):
    """Start times of the captions (the display sets that show something)
    of subtitle track `track`."""
    r = run(["ffprobe", "-v", "error", "-select_streams", "s:%d" % track, "-show_frames", "-show_entries",
             "subtitle=pts_time,num_rects", "-of", "csv=p=0", mkv])
    starts = []
    for line in r.stdout.split():
        t, rects = line.split(",")[:2]
        if int(rects) > 0:
            starts.append(float(t))
    return starts


def run_bytes(args):
    import subprocess
    return subprocess.run(args, capture_output=True, check=True).stdout


def main():
    mkdisc, cli = sys.argv[1], sys.argv[2]
    check = Checks()
    with tempfile.TemporaryDirectory() as tmp:
        disc = os.path.join(tmp, "DISC")
        r = run([mkdisc, disc])
        check(r.returncode == 0, "the sample disc is made: " + r.stderr.strip())
        feature1 = os.path.join(disc, "HVDVD_TS", "FEATURE_1.EVO")

        made = {}
        out = os.path.join(tmp, "mkv")
        os.mkdir(out)
        r = run([cli, "mkv", "-o", out, disc])
        made["mkv"] = glob.glob(os.path.join(out, "*.mkv"))

        # Demux as PGS, then mkvmerge as a user would run it: the rate for
        # the raw video, nothing else. LPCM is left out: raw PCM needs a
        # header that mkvmerge cannot guess.
        out = os.path.join(tmp, "demux")
        os.mkdir(out)
        r = run([cli, "demux", "--pgs", "--streams", "video0,audio00,audio01,sub00,sub01", "-o", out, disc])
        check(r.returncode == 0, "demux: " + r.stderr.strip())
        parts = sorted(os.listdir(out))
        video = [p for p in parts if ".H.264." in p or p.endswith(".mpv")]
        audio = [p for p in parts if "stream.0" in p and p.endswith(".mpa")]
        subs = [p for p in parts if p.endswith(".sup")]
        mkv = os.path.join(out, "demuxed.mkv")
        if video:
            args = ["mkvmerge", "-q", "-o", mkv, "--default-duration", "0:24000/1001p", os.path.join(out, video[0])]
            r = run(args + [os.path.join(out, p) for p in audio + subs])
            check(r.returncode in (0, 1), "mkvmerge joins the demuxed streams: " + r.stdout.strip())
        made["demux + mkvmerge"] = [mkv] if os.path.exists(mkv) else []

        out = os.path.join(tmp, "rebuild")
        os.mkdir(out)
        r = run([cli, "rebuild", "-o", out, disc])
        check(r.returncode == 0, "rebuild: " + r.stderr.strip())
        rebuilt = glob.glob(os.path.join(out, "*.EVO"))
        if rebuilt:
            r = run([cli, "mkv", "-o", out, rebuilt[0]])
        made["rebuild + mkv"] = glob.glob(os.path.join(out, "*.mkv"))

        # FEATURE_2 starts with the frame after the last of FEATURE_1.
        first_files = run([cli, "read", feature1, "--no-continue"]).stdout
        join = None
        for line in first_files.splitlines():
            if "frames (" in line and "count in video stream" in line:
                join = int(line.split()[0]) * FRAME
        check(join is not None, "the first file's frames are counted, so the join is known")

        for how, found in made.items():
            check(len(found) == 1, "%s: one MKV is made" % how)
            if len(found) != 1:
                continue
            mkv = found[0]
            r = run(["ffmpeg", "-v", "error", "-i", mkv, "-f", "null", "-"])
            check(r.returncode == 0 and r.stderr.strip() == "",
                  "%s: ffmpeg decodes every track without a complaint%s" % (how, ": " + r.stderr[:300] if r.stderr else ""))
            white, frames = flashes(mkv)
            seconds = [k for k in range(int(frames * FRAME) + 1) if k <= (frames - 1) * FRAME]
            check(len(white) == len(seconds) and len(seconds) >= 3,
                  "%s: one flash for each whole second of %d frames: %s" % (how, frames, white))
            tracks = {"audio %d" % a: beeps(mkv, a) for a in range(len(audio_tracks(mkv)))}
            tracks.update({"subtitle %d" % s: captions(mkv, s) for s in range(subtitle_count(mkv))})
            check(len(tracks) >= (4 if how == "demux + mkvmerge" else 5), "%s: tracks to compare: %s" % (how, sorted(tracks)))
            crossed = False
            for k, flash in zip(seconds, white):
                crossed |= join is not None and flash >= join - FRAME / 2 and k > 0
                for name, times in tracks.items():
                    near = [t for t in times if abs(t - k) < 0.5]
                    check(len(near) == 1 and abs(near[0] - flash) <= FRAME,
                          "%s: second %d: %s at %s, the flash at %.4f" % (how, k, name, near, flash))
            check(crossed, "%s: the seconds checked run past the join at %.4f s" % (how, join or 0))
    return check.status()


def audio_tracks(mkv):
    r = run(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "stream=index", "-of", "csv=p=0", mkv])
    return r.stdout.split()


def subtitle_count(mkv):
    r = run(["ffprobe", "-v", "error", "-select_streams", "s", "-show_entries", "stream=index", "-of", "csv=p=0", mkv])
    return len(r.stdout.split())


if __name__ == "__main__":
    sys.exit(main())
