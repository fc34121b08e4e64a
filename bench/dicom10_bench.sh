#!/usr/bin/env bash
# Decode/encode throughput of the toolkit beside DCMTK's dcmdump on the same two files: 100,000
# small elements, and one 200 MB pixel element. Then `velloran-cli dump` beside dcmdump in paired
# runs (RUNS, default 9): 200 small files with texts in 17 character sets (pydicom's character set
# test files, in turn), 200 uncompressed images of 0.92 MB and one object of 524 MB. dcmdump runs
# at its fastest, with -M: it then leaves long values unread, as our dump always does.
# Goal: ratio at most 1.00 on each. Usage: [RUNS=9] bench/dicom10_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/paired.sh
build="${1:-build-bench}"
if [[ ! -x "$build/bin/dicom10_bench" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLORAN_TESTS=OFF \
    -DVELLORAN_BENCH=ON >/dev/null
fi
cmake --build "$build" --target dicom10_bench velloran-cli >/dev/null
cli="$(realpath "$build/bin/velloran-cli")"
runs="${RUNS:-9}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/bin/dicom10_bench" generate "$work/small_100k.dcm" "$work/pixel_200mb.dcm"
ls -l "$work"/*.dcm | awk '{printf "%-14s %12d bytes\n", $NF, $5}' | sed "s|$work/||"
echo
echo "== velloran dicom10 (best of several runs)"
"$build/bin/dicom10_bench" "$work/small_100k.dcm" "$work/pixel_200mb.dcm"
echo
echo "== DCMTK dcmdump on the same files (load + parse + print to /dev/null)"
for file in small_100k.dcm pixel_200mb.dcm; do
  # Best of three, like ours; printing is part of dcmdump's work, so its figure is an upper bound.
  best=""
  for run in 1 2 3; do
    /usr/bin/time -f "%e" -o "$work/time.txt" dcmdump "$work/$file" >/dev/null 2>&1
    seconds=$(cat "$work/time.txt")
    if [[ -z "$best" ]] || awk "BEGIN{exit !($seconds < $best)}"; then best=$seconds; fi
  done
  size=$(stat -c %s "$work/$file")
  awk -v f="$file" -v s="$best" -v b="$size" \
    'BEGIN{printf "%-28s %-24s %10.3f s %10.1f MB/s\n", "dcmdump", f, s, (s > 0 ? b/1e6/s : 0)}'
done

echo
echo "== velloran-cli dump beside dcmdump -M: 200 small files, texts in 17 character sets"
charsets=/usr/lib/python3/dist-packages/pydicom/data/charset_files
mkdir "$work/small"
sources=("$charsets"/*.dcm)
for ((i = 0; i < 200; i++)); do
  cp "${sources[i % ${#sources[@]}]}" "$work/small/$(printf %03d "$i").dcm"
done
paired "$runs" "velloran-cli dump" "\"$cli\" dump \"$work\"/small/*.dcm" \
  "dcmdump -M" "dcmdump -M \"$work\"/small/*.dcm"

/usr/bin/python3 bench/native_objects.py "$work/images" 200 480 960
/usr/bin/python3 bench/native_objects.py "$work/large" 1 16000 16384
echo
echo "== velloran-cli dump beside dcmdump -M: 200 uncompressed images of 0.92 MB"
paired "$runs" "velloran-cli dump" "\"$cli\" dump \"$work\"/images/*.dcm" \
  "dcmdump -M" "dcmdump -M \"$work\"/images/*.dcm"
echo
echo "== velloran-cli dump beside dcmdump -M: one object of $(stat -c %s "$work/large/0000.dcm") bytes"
paired "$runs" "velloran-cli dump" "\"$cli\" dump \"$work\"/large/0000.dcm" \
  "dcmdump -M" "dcmdump -M \"$work\"/large/0000.dcm"
