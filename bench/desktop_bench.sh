#!/usr/bin/env bash
# The window's costs on the offscreen platform: first and cached strip redraw of 50 photos of
# 4000 x 3000 (the first draw with libjpeg at 1/8 scale, the figure before, and with the DC
# decoder, side by side), and the longest event-loop block during the start with a printer installation
# whose lpadmin takes 3 seconds, during a worklist search that finds 300 entries (wlmscpfs), and
# while 200 photos are sent to a local storescp (run with TCP_NODELAY=1, discarding what it
# receives).
# Usage: bench/desktop_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLORAN_TESTS=OFF \
    -DVELLORAN_BENCH=ON >/dev/null
fi
cmake --build "$build" --target desktop_bench | grep -E "error|FAILED" || true
work="$(mktemp -d)"
pid=""
wlpid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -n "$wlpid" ] && kill "$wlpid" 2>/dev/null; rm -rf "$work"' EXIT

# lpadmin as slow as a person typing the administrator's password.
cat >"$work/lpadmin" <<'SH'
#!/bin/sh
sleep 3
exit 0
SH
chmod +x "$work/lpadmin"

# A worklist server with 300 procedures scheduled for today.
mkdir -p "$work/worklist/WORKLIST"
touch "$work/worklist/WORKLIST/lockfile"
/usr/bin/python3 - "$work/worklist/WORKLIST" <<'PY'
import datetime, sys
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian, generate_uid
today = datetime.date.today().strftime("%Y%m%d")
for i in range(300):
    step = Dataset()
    step.Modality = "XC"
    step.ScheduledStationAETitle = "VELLORAN"
    step.ScheduledProcedureStepStartDate = today
    step.ScheduledProcedureStepStartTime = "090000"
    step.ScheduledProcedureStepDescription = "WOUND PHOTO"
    step.ScheduledProcedureStepID = "SPS%04d" % i
    step.ScheduledPerformingPhysicianName = "NURSE^NORA"
    step.ScheduledProcedureStepLocation = "ROOM 1"
    entry = Dataset()
    entry.SpecificCharacterSet = "ISO_IR 100"
    entry.AccessionNumber = "ACC%04d" % i
    entry.PatientName = "BENCH^PATIENT%04d" % i
    entry.PatientID = "PID%04d" % i
    entry.PatientBirthDate = "19700101"
    entry.PatientSex = "F"
    entry.RequestedProcedureID = "RP%04d" % i
    entry.RequestedProcedureDescription = "WOUND"
    entry.StudyInstanceUID = generate_uid()
    entry.ReferringPhysicianName = "REF^ROBERT"
    entry.RequestedProcedurePriority = "ROUTINE"
    entry.ScheduledProcedureStepSequence = Sequence([step])
    entry.file_meta = FileMetaDataset()
    entry.file_meta.MediaStorageSOPClassUID = "1.2.276.0.7230010.3.1.0.1"
    entry.file_meta.MediaStorageSOPInstanceUID = generate_uid()
    entry.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    entry.is_little_endian, entry.is_implicit_VR = True, False
    entry.save_as("%s/entry%04d.wl" % (sys.argv[1], i), write_like_original=False)
PY

ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=4000x3000:rate=1" \
  -vf "noise=alls=12:allf=t" -frames:v 50 -q:v 2 "$work/photo%02d.jpg"
ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=size=1600x1200:rate=1" \
  -vf "noise=alls=12:allf=t" -frames:v 200 -q:v 3 "$work/send%03d.jpg"

# The same photos as a camera writes them: with a 160 x 120 preview in their Exif segment.
mkdir -p "$work/camera"
for photo in "$work"/photo*.jpg; do
  ffmpeg -nostdin -loglevel error -i "$photo" -vf scale=160:120 -q:v 4 "$work/preview.jpg" -y
  /usr/bin/python3 - "$photo" "$work/preview.jpg" "$work/camera/$(basename "$photo")" <<'PY'
import struct, sys
photo, preview, out = (open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read(), sys.argv[3])
u16, u32 = (lambda v: struct.pack("<H", v)), (lambda v: struct.pack("<I", v))
tiff = b"II*\0" + u32(8) + u16(0) + u32(14) + u16(2) + u16(0x201) + u16(4) + u32(1) + u32(44)
tiff += u16(0x202) + u16(4) + u32(1) + u32(len(preview)) + u32(0) + preview
body = b"Exif\0\0" + tiff
open(out, "wb").write(photo[:2] + b"\xff\xe1" + struct.pack(">H", len(body) + 2) + body + photo[2:])
PY
done

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
TCP_NODELAY=1 storescp --ignore --max-pdu 16384 "$port" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 1 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

wlport=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
TCP_NODELAY=1 wlmscpfs -dfp "$work/worklist" "$wlport" >/dev/null 2>&1 &
wlpid=$!
for _ in $(seq 1 50); do (exec 3<>"/dev/tcp/127.0.0.1/$wlport") 2>/dev/null && break; sleep 0.1; done

echo "== photos without an embedded preview (the whole picture is decoded at 1/8 scale)"
BENCH_PACS_PORT=$port BENCH_PACS_AET=STORESCP BENCH_WL_PORT=$wlport BENCH_WL_AET=WORKLIST \
  BENCH_LPADMIN="$work/lpadmin" "$build/bin/desktop_bench" \
  "$work"/photo*.jpg -- "$work"/send*.jpg
echo "== the same photos with the preview a camera embeds"
"$build/bin/desktop_bench" "$work"/camera/photo*.jpg
