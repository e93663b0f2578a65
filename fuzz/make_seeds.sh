#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into fuzz/corpus/: small cuts of
# the sample disc and of streams that ffmpeg encodes. Run by hand after the
# sample disc's format changes; the seeds are kept in the tree.
#   fuzz/make_seeds.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: fuzz/make_seeds.sh BUILD_DIR}" && pwd)
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/tools/tarnwick-mkdisc" "$tmp/disc" --seconds 1 --es "$tmp/es" >/dev/null
ff() { ffmpeg -loglevel error -y "$@"; }
ff -f lavfi -i testsrc=size=320x240:rate=25:duration=1 -f lavfi -i sine=d=1 -c:v mpeg2video -c:a ac3 -f vob "$tmp/dvd.vob"
ff -f lavfi -i testsrc=size=320x240:rate=25:duration=1 -c:v libx264 -bsf:v h264_mp4toannexb -f h264 "$tmp/video.h264"
ff -f lavfi -i testsrc=size=320x240:rate=25:duration=1 -c:v mpeg2video -f mpeg2video "$tmp/video.m2v"
ff -f lavfi -i sine=d=1 -c:a ac3 -f ac3 "$tmp/audio.ac3"

rm -rf corpus
mkdir -p corpus/{read_evo,xpl,ac3,dts,vc1,mpeg2,h264,subpicture,subtitles,udf}
evo=$tmp/disc/HVDVD_TS/FEATURE_1.EVO
head -c 65536 "$evo" >corpus/read_evo/evo_head
tail -c 32768 "$evo" >corpus/read_evo/evo_tail
head -c 32768 "$tmp/dvd.vob" >corpus/read_evo/dvd_vob_head
# One seed longer than a 0x40000-byte read, so the state carried from chunk
# to chunk is fuzzed from the start. The demux target uses these seeds too.
head -c 300000 "$evo" >corpus/read_evo/evo_two_chunks
cp "$tmp/disc/ADV_OBJ/VPLST000.XPL" corpus/xpl/
head -c 4096 "$tmp/audio.ac3" >corpus/ac3/ac3
head -c 4096 "$tmp/es/audio_c0.eac3" >corpus/ac3/eac3
head -c 8192 "$tmp/es/audio_89.dts" >corpus/dts/dts
head -c 4096 "$tmp/es/video_fd55.vc1" >corpus/vc1/vc1
head -c 4096 "$tmp/video.m2v" >corpus/mpeg2/m2v
head -c 4096 "$tmp/video.h264" >corpus/h264/h264
head -c 4096 "$tmp/es/sub_20.spu" >corpus/subpicture/2bit
head -c 4096 "$tmp/es/sub_21.spu" >corpus/subpicture/8bit
# Whole units of both kinds, the large 8-bit one included.
head -c 200000 "$tmp/es/sub_20.spu" >corpus/subtitles/2bit_units
head -c 400000 "$tmp/es/sub_21.spu" >corpus/subtitles/8bit_units
# Small disc images (under the fuzzer's 1 MiB): a cut EVO in blocks, the
# playlist, a file inside its entry (also in scattered extents whose
# descriptors continue in allocation extents); and one folder of many entries.
mkdir -p "$tmp/img/HVDVD_TS" "$tmp/img/ADV_OBJ" "$tmp/many/A/B"
head -c 40000 "$evo" >"$tmp/img/HVDVD_TS/FEATURE_1.EVO"
cp "$tmp/disc/ADV_OBJ/VPLST000.XPL" "$tmp/img/ADV_OBJ/"
echo small >"$tmp/img/ADV_OBJ/TINY.TXT"
for i in $(seq 1 80); do echo "$i" >"$tmp/many/A/FILE_$i"; done
"$build/tools/tarnwick-mkdisc" "$tmp/img" --image corpus/udf/disc.iso --image-only >/dev/null
"$build/tools/tarnwick-mkdisc" "$tmp/many" --image corpus/udf/many.iso --image-only >/dev/null
"$build/tools/tarnwick-mkdisc" "$tmp/img" --image corpus/udf/chained.iso --image-only --image-small-extents >/dev/null
du -sh corpus
