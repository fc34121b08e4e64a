#!/usr/bin/env bash
# DICOMweb beside DICOM to the same Orthanc (its DICOMweb plugin loaded, storage in memory), in
# paired runs: `velloran-cli store --dicomweb` (STOW-RS, several objects per request, each file
# read while it is sent) beside `velloran-cli store` (C-STORE) of the same 200 small objects; then
# `velloran-cli send` of a batch holding one 408 MB MP4 by STOW-RS beside the same by C-STORE,
# whose peak memory shows that neither holds an encoded copy of the batch.
# The work folder is in memory (/dev/shm when it exists), so no disk takes part.
# Usage: [RUNS=5] bench/dicomweb_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/paired.sh
source bench/releasecli.sh
build="${1:-build-bench}"
release_cli "$build"
runs="${RUNS:-5}"
work="$(memory_work_dir dicomweb_bench)"
orthanc_pid=""
cleanup() {
  if [[ -n "$orthanc_pid" ]]; then kill "$orthanc_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# send keeps its objects in the outbox of the per-user data folder: here, in memory beside the rest.
export XDG_DATA_HOME="$work/data"

# 200 Secondary Capture objects of 256 x 256 pixels of 16 bits (131 KB each), Explicit VR Little
# Endian.
/usr/bin/python3 bench/native_objects.py "$work/small" 200 256 256

# A short real clip followed by a 'free' box that brings the file to 408 MB.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc=size=1280x720:rate=25" -t 2 \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$work/clip.mp4"
mp4_size=408000000
free_size=$((mp4_size - $(stat -c %s "$work/clip.mp4")))
cp "$work/clip.mp4" "$work/video.mp4"
printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((free_size >> 24 & 255)) \
  $((free_size >> 16 & 255)) $((free_size >> 8 & 255)) $((free_size & 255)))free" \
  >>"$work/video.mp4"
truncate -s "$mp4_size" "$work/video.mp4"

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
dicom_port=$(free_port)
http_port=$(free_port)
mkdir -p "$work/orthanc"
# Each run stores the same objects again: Orthanc is told to overwrite them, so that both ways
# cost it a real store every time.
cat >"$work/orthanc.json" <<JSON
{"Name": "bench", "DicomAet": "ORTHANC", "DicomPort": $dicom_port, "HttpPort": $http_port,
 "StorageDirectory": "$work/orthanc", "IndexDirectory": "$work/orthanc",
 "RemoteAccessAllowed": false, "AuthenticationEnabled": false, "OverwriteInstances": true,
 "StorageCompression": false,
 "Plugins": ["/usr/share/orthanc/plugins/libOrthancDicomWeb.so"],
 "DicomWeb": {"Enable": true, "Root": "/dicom-web/"}}
JSON
Orthanc "$work/orthanc.json" >"$work/orthanc.log" 2>&1 &
orthanc_pid=$!
for _ in $(seq 200); do
  if curl -s "http://127.0.0.1:$http_port/dicom-web/studies?limit=1" >/dev/null 2>&1; then break; fi
  sleep 0.1
done

web="--dicomweb http://127.0.0.1:$http_port/dicom-web --ini $work/none.ini --log $work/velloran.log"
dicom="--pacs-aet ORTHANC --pacs-host 127.0.0.1 --pacs-port $dicom_port --ini $work/none.ini"
dicom+=" --log $work/velloran.log"
size_of() { cat "$@" | wc -c | awk '{printf "%.2f MB", $1 / 1e6}'; }

echo "Medians of $runs paired runs, whole process, to the same Orthanc"
echo "store 200 small objects ($(size_of "$work"/small/*.dcm) in all) (goal: ratio at most 1.30)"
paired "$runs" "velloran-cli store --dicomweb (STOW-RS)" "'$cli' store $web $work/small/*.dcm" \
  "velloran-cli store (C-STORE)" "'$cli' store $dicom $work/small/*.dcm"
echo "send a batch holding one MP4 of $(size_of "$work/video.mp4") (goal: peak memory as C-STORE's)"
paired "$runs" "velloran-cli send --dicomweb (STOW-RS)" \
  "'$cli' send --patient-name Bench --patient-id B1 $web '$work/video.mp4'" \
  "velloran-cli send (C-STORE)" \
  "'$cli' send --patient-name Bench --patient-id B1 $dicom '$work/video.mp4'"
