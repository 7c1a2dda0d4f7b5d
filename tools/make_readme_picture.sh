#!/usr/bin/env bash
# Makes docs/sample-frames.png: frames 1, 9 and 17 of the sample animation (one
# per colour table) as ffmpeg decodes the converted file, without -m (top row:
# every frame in the first frame's colours) and with -m (bottom row).
#   tools/make_readme_picture.sh [path/to/kestrup]
set -euo pipefail
cd "$(dirname "$0")/.."
kestrup=${1:-build/kestrup}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$kestrup" -q -y examples/sample.rm "$work/single.avi" 2>/dev/null
"$kestrup" -q -y -m examples/sample.rm "$work/multi.avi"
for kind in single multi; do
  ffmpeg -nostdin -v error -y -i "$work/$kind.avi" \
    -vf "select='not(mod(n\,8))',scale=288:192:flags=neighbor,pad=296:200:4:4:white,tile=3x1" \
    -frames:v 1 "$work/$kind.png"
done
ffmpeg -nostdin -v error -y -i "$work/single.png" -i "$work/multi.png" \
  -filter_complex vstack docs/sample-frames.png
echo "wrote docs/sample-frames.png"
