#!/usr/bin/env bash
# Picture conversion time beside libjpeg-turbo's djpeg + cjpeg (quality 90) on the same photos of
# 4000 x 3000 pixels: one at a time in-process, then `velloran-cli save` of 20 and of 100 photos
# (every core at work, a bounded number of pictures in memory) with its peak memory, and the peak
# memory of saving a batch that holds a 1 GB MP4.
# Usage: [RUNS=5] bench/convert_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/paired.sh
source bench/releasecli.sh
build="${1:-build-bench}"
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLORAN_TESTS=OFF \
    -DVELLORAN_BENCH=ON >/dev/null
fi
cmake --build "$build" --target convert_bench velloran-cli >/dev/null
work="$(memory_work_dir convert_bench)"
trap 'rm -rf "$work"' EXIT

# Photo-like content: a busy test pattern with grain, stored as high-quality JPEG.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=4000x3000:rate=1" \
  -vf "noise=alls=12:allf=t" -frames:v 100 -q:v 2 "$work/photo%03d.jpg"
all_photos=("$work"/photo*.jpg)
photos=("${all_photos[@]:0:20}")
echo "${#all_photos[@]} photos of 4000 x 3000, $(du -ch "${all_photos[@]}" | tail -1 | cut -f1) in all"
echo

echo "== one photo at a time in-process: velloran ConvertImage (decode, encode at quality 90)"
ours=$("$build/bin/convert_bench" "${photos[@]}" | tail -1)
echo "  $ours"
echo

# The whole batch as a user runs it: all photos into one study, written as files, every core at
# work; beside libjpeg-turbo converting the same photos one after the other. The log says how many
# pictures were in memory at once; the peak must not grow with the batch's length.
runs="${RUNS:-5}"
for count in 20 100; do
  batch=("${all_photos[@]:0:count}")
  echo "== $count photos, whole process, medians of $runs paired runs" \
    "(goal: ratio at most 0.60, peak at most 160 MiB)"
  rm -f "$work/save.log"
  paired "$runs" "velloran-cli save ($count photos)" \
    "rm -rf '$work/saved' && '$build/bin/velloran-cli' save --ini '$work/none.ini' \
       --log '$work/save.log' --out '$work/saved' --patient-name Bench --patient-id B1 \
       ${batch[*]}" \
    "djpeg | cjpeg -quality 90, one after the other" \
    "for photo in ${batch[*]}; do djpeg \"\$photo\" | cjpeg -quality 90 >/dev/null; done"
  echo "  bound: $(grep -o '[0-9]* pictures encoded on .*' "$work/save.log" | tail -1)" \
    "(on $(nproc) cores)"
  echo
done

# A short real clip followed by a 'free' box that brings the file to 1 GiB: a valid MP4 whose
# bytes all travel in the object.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc=size=1280x720:rate=25" -t 2 \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$work/clip.mp4"
clip_size=$(stat -c %s "$work/clip.mp4")
free_size=$((1024 * 1024 * 1024 - clip_size))
cp "$work/clip.mp4" "$work/big.mp4"
printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((free_size >> 24 & 255)) \
  $((free_size >> 16 & 255)) $((free_size >> 8 & 255)) $((free_size & 255)))free" >>"$work/big.mp4"
truncate -s $((1024 * 1024 * 1024)) "$work/big.mp4"
echo "== peak memory of velloran-cli save with a 1 GiB MP4 and one photo"
/usr/bin/time -v "$build/bin/velloran-cli" save --ini "$work/none.ini" --out "$work/out" \
  --patient-name Bench --patient-id B1 "$work/big.mp4" "${photos[0]}" \
  >/dev/null 2>"$work/time.txt"
grep -E "Maximum resident set size|Elapsed" "$work/time.txt"
echo "MP4 file: $(stat -c %s "$work/big.mp4") bytes; written objects:"
ls -l "$work/out" | awk 'NR>1{print "  " $5 " bytes"}'
