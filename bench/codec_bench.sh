#!/usr/bin/env bash
# Lossless JPEG and JPEG 2000 throughput of our codecs beside DCMTK's dcmcjpeg +el / dcmdjpeg on
# the same 512 x 512 x 100-frame 16-bit object, all in one run. MB/s are over the native pixel
# size (52.4 MB). Then the whole-process rows beside DCMTK in paired runs with peak memory: RLE
# decoding beside dcmdrle and lossless JPEG encoding beside dcmcjpeg +el.
# Usage: [RUNS=5] bench/codec_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/paired.sh
build="${1:-build-bench}"
if [[ ! -x "$build/bin/codec_bench" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLORAN_TESTS=OFF \
    -DVELLORAN_BENCH=ON >/dev/null
fi
cmake --build "$build" --target codec_bench velloran-cli >/dev/null
cli="$build/bin/velloran-cli"
bench="$build/bin/codec_bench"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$bench" generate "$work/native.dcm"
native_bytes=$((512 * 512 * 2 * 100))

# Wall time of one command, best of the given number of runs, as MB/s over the native size.
timed() {
  local label="$1" runs="$2"
  shift 2
  local best=""
  for ((run = 0; run < runs; run++)); do
    /usr/bin/time -f "%e" -o "$work/time.txt" "$@" >/dev/null 2>"$work/errors.txt" ||
      { cat "$work/errors.txt" >&2; return 1; }
    local seconds
    seconds=$(tail -1 "$work/time.txt")
    if [[ -z "$best" ]] || awk "BEGIN{exit !($seconds < $best)}"; then best=$seconds; fi
  done
  awk -v l="$label" -v s="$best" -v b="$native_bytes" \
    'BEGIN{printf "%-44s %8.2f s %9.1f MB/s\n", l, s, (s > 0 ? b/1e6/s : 0)}'
}

runs="${RUNS:-5}"
object_mb=$(awk -v b="$native_bytes" 'BEGIN{printf "%.1f", b / 1048576}')
dcmcrle "$work/native.dcm" "$work/rle.dcm"
echo "== whole process, medians of $runs paired runs; the object's pixel data is $object_mb MiB"
echo "RLE decode, 512 x 512 x 100 16-bit (goal: ratio at most 1.00, peak at most 2 x the object)"
paired "$runs" "velloran-cli transcode RLE -> explicit LE" \
  "'$cli' transcode --ts 1.2.840.10008.1.2.1 '$work/rle.dcm' '$work/rle_ours.dcm'" \
  "dcmdrle" "dcmdrle '$work/rle.dcm' '$work/rle_dcmtk.dcm'"
echo "Lossless JPEG encode, same object (goal: peak at most 2 x the object)"
paired "$runs" "velloran-cli transcode -> lossless JPEG (.70)" \
  "'$cli' transcode --ts 1.2.840.10008.1.2.4.70 '$work/native.dcm' '$work/el_ours.dcm'" \
  "dcmcjpeg +el" "dcmcjpeg +el '$work/native.dcm' '$work/el_dcmtk.dcm'"
echo

echo "== in-process figures (velloran; conversion alone and with file read/write)"
"$bench" transcode 1.2.840.10008.1.2.4.70 "$work/native.dcm" "$work/ours70.dcm"
"$bench" transcode 1.2.840.10008.1.2.1 "$work/ours70.dcm" "$work/ours70_back.dcm"
"$bench" transcode 1.2.840.10008.1.2.4.90 "$work/native.dcm" "$work/ours90.dcm"
"$bench" transcode 1.2.840.10008.1.2.1 "$work/ours90.dcm" "$work/ours90_back.dcm"
echo
echo "== side by side, whole process wall time (read + convert + write), best of 3"
timed "velloran lossless JPEG encode (.70)" 3 "$bench" transcode 1.2.840.10008.1.2.4.70 \
  "$work/native.dcm" "$work/a.dcm"
timed "dcmcjpeg +el (lossless JPEG encode)" 3 dcmcjpeg +el "$work/native.dcm" "$work/dcmtk_el.dcm"
timed "dcmcjpeg +e1 (lossless JPEG SV1 encode)" 3 dcmcjpeg +e1 "$work/native.dcm" "$work/dcmtk_e1.dcm"
timed "velloran lossless JPEG decode (own .70 file)" 3 "$bench" transcode 1.2.840.10008.1.2.1 \
  "$work/ours70.dcm" "$work/b.dcm"
timed "velloran lossless JPEG decode (dcmcjpeg +el file)" 3 "$bench" transcode \
  1.2.840.10008.1.2.1 "$work/dcmtk_el.dcm" "$work/c.dcm"
timed "dcmdjpeg (dcmcjpeg +el file)" 3 dcmdjpeg "$work/dcmtk_el.dcm" "$work/d.dcm"
timed "dcmdjpeg (own .70 file)" 3 dcmdjpeg "$work/ours70.dcm" "$work/e.dcm"
timed "velloran JPEG 2000 lossless encode (.90)" 1 "$bench" transcode 1.2.840.10008.1.2.4.90 \
  "$work/native.dcm" "$work/f.dcm"
timed "velloran JPEG 2000 lossless decode (.90)" 1 "$bench" transcode 1.2.840.10008.1.2.1 \
  "$work/ours90.dcm" "$work/g.dcm"
echo
ls -l "$work"/native.dcm "$work"/ours70.dcm "$work"/dcmtk_el.dcm "$work"/dcmtk_e1.dcm \
  "$work"/ours90.dcm | awk '{printf "%-16s %12d bytes\n", $NF, $5}' | sed "s|$work/||"
