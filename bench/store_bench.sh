#!/usr/bin/env bash
# C-STORE time and peak memory of `velloran-cli store` beside DCMTK's storescu, sending the same
# files to the same local storescp (PDU 16384, accepting every transfer syntax, discarding what it
# receives; storescu proposes each file's own syntax) in paired runs: 200 native objects of
# 0.92 MB, 200 JPEG objects of about 260 KB and one object of 524 MB. Then
# `velloran-cli send` of a batch holding one 408 MB MP4 through the outbox (the outbox copy written
# while the object is sent) beside `velloran-cli store` of the object that batch saves. DCMTK's tools run with TCP_NODELAY=1: without it they wait for delayed
# acknowledgements (about 40 ms per object), which is not their real speed.
# The work folder is in memory (/dev/shm when it exists), so no disk takes part.
# Usage: [RUNS=5] bench/store_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/paired.sh
source bench/releasecli.sh
build="${1:-build-bench}"
release_cli "$build"
runs="${RUNS:-5}"
work="$(memory_work_dir store_bench)"
scp_pid=""
discard_pid=""
cleanup() {
  if [[ -n "$scp_pid" ]]; then kill "$scp_pid" 2>/dev/null || true; fi
  if [[ -n "$discard_pid" ]]; then kill "$discard_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# send keeps its objects in the outbox of the per-user data folder: here, in memory beside the rest.
export XDG_DATA_HOME="$work/data"
export TCP_NODELAY=1

# Secondary Capture objects in Explicit VR Little Endian: 480 x 960 and 16000 x 16384 pixels of
# 16 bits (0.92 MB and 524 MB of pixel data).
/usr/bin/python3 bench/native_objects.py "$work/native" 200 480 960
/usr/bin/python3 bench/native_objects.py "$work/large" 1 16000 16384
mv "$work/large/0000.dcm" "$work/large/large.dcm"

# JPEG objects as the batch makes them: 200 grainy 1024 x 768 pictures, converted by save.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=1024x768:rate=25" \
  -vf "noise=alls=20:allf=t" -frames:v 200 -q:v 2 "$work/picture%03d.jpg"
"$cli" save --ini "$work/none.ini" --out "$work/jpeg" --patient-name Bench --patient-id B1 \
  "$work"/picture*.jpg >/dev/null
rm -f "$work"/picture*.jpg

# A short real clip followed by a 'free' box that brings the file to 408 MB: a valid MP4 whose
# bytes all travel in the object. Saved once, so that store sends exactly what send sends.
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc=size=1280x720:rate=25" -t 2 \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$work/clip.mp4"
mp4_size=408000000
free_size=$((mp4_size - $(stat -c %s "$work/clip.mp4")))
cp "$work/clip.mp4" "$work/video.mp4"
printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((free_size >> 24 & 255)) \
  $((free_size >> 16 & 255)) $((free_size >> 8 & 255)) $((free_size & 255)))free" \
  >>"$work/video.mp4"
truncate -s "$mp4_size" "$work/video.mp4"
"$cli" save --ini "$work/none.ini" --out "$work/video" --patient-name Bench --patient-id B1 \
  "$work/video.mp4" >/dev/null

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/in"
storescp --ignore --max-pdu 16384 +xa -od "$work/in" "$port" >/dev/null 2>&1 &
scp_pid=$!
for _ in $(seq 100); do
  if echoscu -aec STORESCP 127.0.0.1 "$port" >/dev/null 2>&1; then break; fi
  sleep 0.1
done

network="--pacs-aet STORESCP --pacs-host 127.0.0.1 --pacs-port $port --ini $work/none.ini"
ours="'$cli' store $network --log '$work/velloran.log'"
theirs="storescu -R -aec STORESCP 127.0.0.1 $port"
size_of() { cat "$@" | wc -c | awk '{printf "%.2f MB", $1 / 1e6}'; }

echo "Medians of $runs paired runs, whole process (goal: ratio at most 1.00 on the store rows)"
echo "store 200 native objects ($(size_of "$work"/native/*.dcm) in all)"
paired "$runs" "velloran-cli store" "$ours $work/native/*.dcm" "storescu" \
  "$theirs $work/native/*.dcm"
echo "store 200 JPEG objects ($(size_of "$work"/jpeg/*.dcm) in all)"
# storescu proposes JPEG only when told to (-xy); it then sends the files as they are.
paired "$runs" "velloran-cli store" "$ours $work/jpeg/*.dcm" "storescu -xy" \
  "${theirs/storescu/storescu -xy} $work/jpeg/*.dcm"
echo "store one object of $(size_of "$work"/large/large.dcm)"
paired "$runs" "velloran-cli store" "$ours $work/large/large.dcm" "storescu" \
  "$theirs $work/large/large.dcm"
# Both senders wait on the receiver here: what storescp spends on one object, whoever sends it.
receiver_seconds() {
  awk -v tick="$(getconf CLK_TCK)" '{print ($14 + $15) / tick}' "/proc/$scp_pid/stat"
}
receiver_share() {
  local before after
  before=$(receiver_seconds)
  bash -c "$1" >/dev/null 2>&1
  after=$(receiver_seconds)
  awk -v a="$before" -v b="$after" 'BEGIN {printf "%.2f s", b - a}'
}
echo "  storescp's processor time for the object: $(receiver_share "$ours $work/large/large.dcm")" \
  "from velloran-cli store, $(receiver_share "$theirs $work/large/large.dcm") from storescu"
# The senders' own speed: the same object to a receiver that throws the data away unread and
# accepts the same 16 KB PDUs.
discard_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
/usr/bin/python3 bench/discard_scp.py "$discard_port" 16384 >/dev/null 2>&1 &
discard_pid=$!
for _ in $(seq 100); do
  if echoscu -aec DISCARD 127.0.0.1 "$discard_port" >/dev/null 2>&1; then break; fi
  sleep 0.1
done
echo "store one object of $(size_of "$work"/large/large.dcm) to a receiver that discards it" \
  "unread (bench/discard_scp.py)"
paired "$runs" "velloran-cli store" \
  "'$cli' store --pacs-aet DISCARD --pacs-host 127.0.0.1 --pacs-port $discard_port \
     --ini $work/none.ini --log '$work/velloran.log' $work/large/large.dcm" \
  "storescu" "storescu -aec DISCARD 127.0.0.1 $discard_port $work/large/large.dcm"
echo "send a batch holding one MP4 of $(size_of "$work/video.mp4") through the outbox" \
  "(goal: ratio at most 1.20; peak at most 0.25 x the file)"
paired "$runs" "velloran-cli send (convert and store)" \
  "'$cli' send --patient-name Bench --patient-id B1 $network '$work/video.mp4'" \
  "velloran-cli store of the saved object" "$ours $work/video/*.dcm"
