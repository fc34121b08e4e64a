#!/usr/bin/env bash
# C-STORE throughput and peak memory of `velloran-cli store` beside DCMTK's storescu, sending the
# same files to the same local storescp in one run: 200 objects of 1 MB, then one of 500 MB.
# storescp receives with --ignore, so neither sender waits for the receiver's disk.
# Usage: bench/store_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLORAN_TESTS=OFF \
    -DVELLORAN_BENCH=ON >/dev/null
fi
cmake --build "$build" --target velloran-cli >/dev/null
cli="$build/bin/velloran-cli"
work="$(mktemp -d)"
scp_pid=""
cleanup() {
  if [[ -n "$scp_pid" ]]; then kill "$scp_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Secondary Capture objects in Explicit VR Little Endian: 1024 x 512 and 16384 x 16000 pixels of
# 16 bits (1 MiB and 500 MiB of pixel data).
/usr/bin/python3 - "$work" <<'PY'
import sys, os
import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

def write(path, rows, columns, seed):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.PatientName = "BENCH^STORE"
    ds.PatientID = "BENCH"
    ds.StudyInstanceUID = "1.2.826.0.1.3680043.10.777"
    ds.SeriesInstanceUID = "1.2.826.0.1.3680043.10.777.1"
    ds.Modality = "OT"
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.Rows, ds.Columns = rows, columns
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 12, 11, 0
    pixels = (np.arange(rows * columns, dtype=np.uint32) * 2654435761 + seed) % 4096
    ds.PixelData = pixels.astype("<u2").tobytes()
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)

work = sys.argv[1]
os.makedirs(f"{work}/small")
os.makedirs(f"{work}/large")
for i in range(200):
    write(f"{work}/small/{i:04d}.dcm", 512, 1024, i)
write(f"{work}/large/large.dcm", 16000, 16384, 7)
PY

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/in"
storescp --ignore -od "$work/in" "$port" >/dev/null 2>&1 &
scp_pid=$!
for _ in $(seq 100); do
  if echoscu -aec STORESCP 127.0.0.1 "$port" >/dev/null 2>&1; then break; fi
  sleep 0.1
done

small_files=("$work"/small/*.dcm)
small_bytes=$(cat "${small_files[@]}" | wc -c)
large_bytes=$(wc -c <"$work/large/large.dcm")

# One run under /usr/bin/time -v; prints seconds, objects/s, MB/s and peak memory.
measure() {
  local label="$1" objects="$2" bytes="$3"
  shift 3
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/errors.txt" ||
    { echo "$label failed:" >&2; cat "$work/errors.txt" >&2; return 1; }
  local elapsed peak
  elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {
    n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s }' \
    "$work/time.txt")
  peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  awk -v label="$label" -v s="$elapsed" -v n="$objects" -v b="$bytes" -v kb="$peak" \
    'BEGIN { if (s <= 0) s = 0.01;
             printf "%-34s %8.2f s %9.1f obj/s %9.1f MB/s %9.1f MB peak\n",
                    label, s, n / s, b / s / 1e6, kb / 1024 }'
}

ours=("$cli" store --pacs-aet STORESCP --pacs-host 127.0.0.1 --pacs-port "$port"
  --ini "$work/none.ini" --log "$work/velloran.log")
theirs=(storescu -aec STORESCP 127.0.0.1 "$port")

echo "200 objects of $((small_bytes / 200 / 1024)) KiB ($((small_bytes / 1000000)) MB in all):"
measure "velloran-cli store" 200 "$small_bytes" "${ours[@]}" "${small_files[@]}"
measure "storescu" 200 "$small_bytes" "${theirs[@]}" "${small_files[@]}"
measure "velloran-cli store (again)" 200 "$small_bytes" "${ours[@]}" "${small_files[@]}"
measure "storescu (again)" 200 "$small_bytes" "${theirs[@]}" "${small_files[@]}"
echo "one object of $((large_bytes / 1000000)) MB:"
measure "velloran-cli store" 1 "$large_bytes" "${ours[@]}" "$work/large/large.dcm"
measure "storescu" 1 "$large_bytes" "${theirs[@]}" "$work/large/large.dcm"
