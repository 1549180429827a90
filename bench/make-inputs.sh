#!/usr/bin/env bash
# Makes the benchmark inputs with Debian's ffmpeg from its lavfi test sources
# into the folder given as the only argument (the bench targets pass
# <build>/bench/inputs). One line per input at the end:
#   input NAME ffmpeg-arguments...
# (the arguments between "ffmpeg -y" and the output file name). An input is
# made again only when it is missing or older than this script.
set -euo pipefail

out=${1:?usage: make-inputs.sh OUTPUT-FOLDER}
mkdir -p "$out"
script="${BASH_SOURCE[0]}"

input() {
  local name=$1
  shift
  local target="$out/$name"
  if [ -s "$target" ] && [ "$target" -nt "$script" ]; then
    return 0
  fi
  local tmp="$out/.tmp-$name"
  rm -f "$tmp"
  echo "making $name ..."
  if ! ffmpeg -nostdin -hide_banner -loglevel error -y "$@" "$tmp"; then
    rm -f "$tmp"
    echo "make-inputs: could not make $name" >&2
    return 1
  fi
  mv -f "$tmp" "$target"
}

# Seeking: 60 s of 1080p H.264 at 25 fps by libx264 (-preset veryfast, its
# B-frames) with AAC stereo, a key frame every 2 s (50 pictures) or every 10 s
# (250, x264's default), no extra key frames at scene cuts.
for gop in 2 10; do
  input seek-gop$gop-1080p.mp4 -f lavfi -i testsrc2=s=1920x1080:r=25:d=60 \
    -f lavfi -i sine=f=440:sample_rate=48000:d=60 \
    -c:v libx264 -preset veryfast -g $((gop * 25)) -sc_threshold 0 -pix_fmt yuv420p \
    -c:a aac -b:a 128k -ac 2 -f mp4
done

# Transcoding: 30 s of 720p MPEG-4 Part 2 with MP3 stereo in AVI, and 60 s of
# 16-bit stereo WAV.
input transcode-720p.avi -f lavfi -i testsrc2=s=1280x720:r=25:d=30 \
  -f lavfi -i sine=f=440:sample_rate=44100:d=30 \
  -c:v mpeg4 -q:v 3 -pix_fmt yuv420p -c:a libmp3lame -b:a 128k -ac 2 -f avi
input transcode-60s.wav -f lavfi -i sine=f=440:sample_rate=44100:d=60 \
  -ac 2 -c:a pcm_s16le -f wav
# Codec threads: 20 s of 720p H.264 (libx264 -preset veryfast, B-frames) with
# AAC stereo at 48 kHz, and 10 s of the same for the batch of six files.
input threads-720p.mp4 -f lavfi -i testsrc2=s=1280x720:r=25:d=20 \
  -f lavfi -i sine=f=440:sample_rate=48000:d=20 \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k -ac 2 -f mp4
input batch-10s.mp4 -f lavfi -i testsrc2=s=1280x720:r=25:d=10 \
  -f lavfi -i sine=f=440:sample_rate=48000:d=10 \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k -ac 2 -f mp4
