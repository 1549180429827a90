#!/usr/bin/env bash
# Converts one small fixture through every shipped profile with vidmorph-cli's
# preset mode, shard SHARD of SHARDS (profiles whose list position modulo
# SHARDS is SHARD), and checks every output with ffprobe -count_frames: it
# decodes without an error, its picture has the profile's size (inner size
# plus pads), its video and audio codecs are the profile's, and it holds
# about one second of pictures.
#
# usage: all-profiles.sh CLI FIXTURE SHARD SHARDS WORK-FOLDER
set -uo pipefail

cli=$1 fixture=$2 shard=$3 shards=$4 work=$5
profiles="$(dirname "$cli")/profiles"
# The outputs are named after the upper-cased base name of the source.
base=$(basename "$fixture")
base=${base%.*}
base=${base^^}
rm -rf "$work"
mkdir -p "$work"

# A key of a profile file (the first line of that name).
key() { sed -n "s/^$2=//p" "$1" | head -n 1 | tr -d '\r'; }

video_codec() {
  case $1 in
    MPEG4) echo mpeg4 ;; H263) echo h263 ;; WMV2) echo wmv2 ;; FLV) echo flv1 ;; RV20) echo rv20 ;;
    MPEG2) echo mpeg2video ;; MPEG1) echo mpeg1video ;; H264) echo h264 ;; *) echo "unknown:$1" ;;
  esac
}
audio_codec() {
  case $1 in
    AAC) echo aac ;; MP3) echo mp3 ;; AC3) echo ac3 ;; FLAC) echo flac ;; WMA) echo wmav2 ;; MP2) echo mp2 ;;
    *) echo "unknown:$1" ;;
  esac
}

ids=$("$cli" --list-profiles) || { echo "FAIL: --list-profiles"; exit 1; }
count=$(printf '%s\n' "$ids" | wc -l)
if [ "$count" -ne 198 ]; then
  echo "FAIL: --list-profiles lists $count profiles, not 198"
  exit 1
fi

failures=0 checked=0 position=0
fail() { echo "FAIL: $id: $*"; failures=$((failures + 1)); }
while IFS= read -r id; do
  position=$((position + 1))
  [ $(((position - 1) % shards)) -eq "$shard" ] || continue
  checked=$((checked + 1))
  tree=${id%%/*} rest=${id#*/}
  group=${rest%%/*} name=${rest#*/}
  if [ "$tree" = devices ]; then
    file=$(compgen -G "$profiles/devices/[0-9]*_$group/[0-9]*_$name.ini" | head -n 1)
  else
    file=$(compgen -G "$profiles/videoconvert/$group/[0-9]*_$name.ini" | head -n 1)
  fi
  [ -n "$file" ] || { fail "no profile file"; continue; }
  out="$work/$position"
  mkdir -p "$out"
  if ! "$cli" --profile "$id" --output-folder "$out" "$fixture" >"$out.log" 2>&1; then
    fail "vidmorph-cli failed: $(tail -n 3 "$out.log" | tr '\n' ' ')"
    continue
  fi
  output="$out/${base}_(new).$(key "$file" Type)"
  [ -s "$output" ] || { fail "no output $output"; continue; }

  probe=$(ffprobe -v error -count_frames -show_entries stream=codec_type,codec_name,width,height,nb_read_frames \
    -of csv=p=0 "$output" 2>"$out.err")
  [ -s "$out.err" ] && { fail "decoding: $(head -n 3 "$out.err" | tr '\n' ' ')"; continue; }
  vline=$(printf '%s\n' "$probe" | grep ',video,' | head -n 1)
  aline=$(printf '%s\n' "$probe" | grep ',audio,' | head -n 1)
  IFS=, read -r vcodec _ width height vframes <<<"$vline"
  IFS=, read -r acodec _ aframes <<<"$aline"
  want_w=$(key "$file" Width) want_h=$(key "$file" Height)
  want_v=$(video_codec "$(key "$file" VideoCodec)") want_a=$(audio_codec "$(key "$file" AudioCodec)")
  fps=$(key "$file" FPS)
  min_frames=$(awk -v f="$fps" 'BEGIN { printf "%d", f * 0.9 }')
  [ "$width" = "$want_w" ] && [ "$height" = "$want_h" ] || fail "picture ${width}x$height, not ${want_w}x$want_h"
  [ "$vcodec" = "$want_v" ] || fail "video codec $vcodec, not $want_v"
  [ "$acodec" = "$want_a" ] || fail "audio codec $acodec, not $want_a"
  [ "${vframes:-0}" -ge "$min_frames" ] 2>/dev/null || fail "$vframes pictures, fewer than $min_frames"
  [ "${aframes:-0}" -ge 1 ] 2>/dev/null || fail "no audio frames"
done <<<"$ids"

echo "shard $shard of $shards: $checked profiles checked, $failures failures"
[ "$checked" -gt 0 ] && [ "$failures" -eq 0 ]
