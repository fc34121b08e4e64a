#!/usr/bin/env bash
# The outbox beside the direct send, in paired runs to the same local storescp (TCP_NODELAY=1,
# received objects thrown away):
#  - time and peak memory of `velloran-cli send` of 20 photos of 4000 x 3000 (12 MP, noise-heavy
#    JPEGs of a few MB) through the outbox (converted on every core, each object written to the
#    outbox and delivered while the next ones are converted) beside `send --direct` (the whole
#    batch converted in memory first, then stored). Goal: ratio at most 1.10.
#  - the same with 100 photos, and `velloran-cli save` of them, which streams the same way.
#    Goal: peak at most 160 MiB, whatever the batch's length (one picture per core and the one
#    in hand in memory).
#  - 200 small photos (320 x 240) sent through the outbox beside `send --direct`.
#    Goal: ratio at most 1.10.
#  - the same with the outbox on the disk of the build folder, where its flushes reach a disk.
#    Goal: ratio at most 1.15 (the figure depends on the disk and on who else writes to it).
# The work folder and the outbox are in memory (/dev/shm when it exists), except in the last pair.
# Usage: [RUNS=3] bench/outbox_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/paired.sh
source bench/releasecli.sh
build="${1:-build-bench}"
release_cli "$build"
runs="${RUNS:-3}"
work="$(memory_work_dir outbox_bench)"
scp_pid=""
disk_outbox="$(mktemp -d "$(realpath "$build")/outbox_bench.XXXXXX")"
cleanup() {
  if [[ -n "$scp_pid" ]]; then kill "$scp_pid" 2>/dev/null || true; fi
  rm -rf "$work" "$disk_outbox"
}
trap cleanup EXIT
export TCP_NODELAY=1
outbox="$work/outbox"

mkdir -p "$work/photos" "$work/small"
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=4000x3000:rate=25" \
  -vf "noise=alls=20:allf=t" -frames:v 100 -q:v 2 "$work/photos/photo%03d.jpg"
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=320x240:rate=25" \
  -vf "noise=alls=20:allf=t" -frames:v 200 -q:v 3 "$work/small/photo%03d.jpg"

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
storescp --ignore +xa "$port" >/dev/null 2>&1 &
scp_pid=$!
for _ in $(seq 100); do
  if echoscu -aec STORESCP 127.0.0.1 "$port" >/dev/null 2>&1; then break; fi
  sleep 0.1
done

common="--patient-name Bench --patient-id B1 --pacs-aet STORESCP --pacs-host 127.0.0.1 \
  --pacs-port $port --ini $work/none.ini --log $work/velloran.log"
through="'$cli' send $common --outbox '$outbox'"
direct="'$cli' send $common --direct"

# The largest object of the photo batch, as Save writes it.
"$cli" save --ini "$work/none.ini" --out "$work/saved" --patient-name Bench --patient-id B1 \
  "$work"/photos/*.jpg >/dev/null
largest=$(stat -c %s "$work"/saved/*.dcm | sort -n | tail -1)
photos_size=$(cat "$work"/photos/*.jpg | wc -c)
rm -rf "$work/saved"
awk -v l="$largest" -v p="$photos_size" 'BEGIN {
  printf "Largest object %.1f MiB (100 photos, %.1f MiB of JPEG in all): memory goal 160 MiB\n",
    l / 1048576, p / 1048576 }'

echo "Medians of $runs paired runs, whole process"
all_photos=("$work"/photos/*.jpg)
twenty=("${all_photos[@]:0:20}")
echo "send 20 photos of 12 MP (goal: ratio at most 1.10)"
paired "$runs" "send through the outbox" "$through ${twenty[*]}" \
  "send --direct (whole batch in memory)" "$direct ${twenty[*]}"
echo "  bound: $(grep -o '[0-9]* pictures encoded on .*' "$work/velloran.log" | tail -1)" \
  "(on $(nproc) cores)"
echo "send 100 photos of 12 MP"
paired "$runs" "send through the outbox" "$through $work/photos/*.jpg" \
  "send --direct (whole batch in memory)" "$direct $work/photos/*.jpg"
echo "save 100 photos of 12 MP (one object at a time) beside send --direct"
paired "$runs" "save" "rm -rf '$work/out' && '$cli' save --ini $work/none.ini --out '$work/out' \
  --patient-name Bench --patient-id B1 $work/photos/*.jpg" \
  "send --direct (whole batch in memory)" "$direct $work/photos/*.jpg"
echo "send 200 small photos (goal: ratio at most 1.10)"
paired "$runs" "send through the outbox" "$through $work/small/*.jpg" \
  "send --direct" "$direct $work/small/*.jpg"
echo "send 200 small photos, the outbox on disk (goal: ratio at most 1.15)"
paired "$runs" "send through the outbox on disk" "'$cli' send $common --outbox '$disk_outbox' \
  $work/small/*.jpg" "send --direct" "$direct $work/small/*.jpg"
left=$(find "$outbox" "$disk_outbox" -name '*.dcm' | wc -l)
echo "objects left in the outbox after all runs: $left"
