"""Orthanc and a worklist server started on free loopback ports for the end-to-end tests, and
small source files."""

import json
import os
import socket
import struct
import subprocess
import time
import urllib.request
import zlib


def stop_process(process, timeout=20):
    """Asks a child to end, and ends it when it does not."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, timeout=60.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.2)
    return False


def _listening_inodes(port):
    """Socket inodes of the TCP sockets listening on `port`, from the kernel's tables."""
    inodes = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as rows:
                next(rows)
                for row in rows:
                    fields = row.split()
                    if fields[3] == "0A" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                        inodes.add(fields[9])
        except OSError:
            pass
    return inodes


def wait_listening(process, port, timeout=60.0):
    """True once this very process (not whoever else may hold the port) listens on the port;
    false when it ends first or after the time-out."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if process.poll() is not None:
            return False
        inodes = _listening_inodes(port)
        folder = f"/proc/{process.pid}/fd"
        try:
            links = [os.readlink(os.path.join(folder, name)) for name in os.listdir(folder)]
        except OSError:
            links = []
        if any(link == f"socket:[{inode}]" for link in links for inode in inodes):
            return True
        time.sleep(0.2)
    return False


class Orthanc:
    def __init__(self, folder):
        self.dicom_port = free_port()
        self.http_port = free_port()
        storage = os.path.join(folder, "orthanc-db")
        os.makedirs(storage, exist_ok=True)
        config = {
            "Name": "velloran-e2e", "DicomAet": "ORTHANC", "DicomPort": self.dicom_port,
            "HttpPort": self.http_port, "StorageDirectory": storage, "IndexDirectory": storage,
            "RemoteAccessAllowed": False, "AuthenticationEnabled": False,
            "DicomCheckCalledAet": False, "DicomAlwaysAllowFind": True,
        }
        path = os.path.join(folder, "orthanc.json")
        with open(path, "w") as out:
            json.dump(config, out)
        self.log = open(os.path.join(folder, "orthanc.log"), "w")
        self.process = subprocess.Popen(["Orthanc", path], stdout=self.log,
                                        stderr=subprocess.STDOUT)
        if not (wait_listening(self.process, self.dicom_port) and
                wait_listening(self.process, self.http_port)):
            raise RuntimeError("Orthanc did not start")

    def get(self, path):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.http_port}{path}",
                                    timeout=20) as answer:
            return json.loads(answer.read())

    def stop(self):
        stop_process(self.process)
        self.log.close()


class Worklist:
    """DCMTK's wlmscpfs on a free loopback port, called WORKLIST, answering from the worklist
    entries (name, ID, accession) given, each scheduled for today."""

    def __init__(self, folder, entries):
        from pydicom.dataset import Dataset, FileMetaDataset
        from pydicom.sequence import Sequence
        from pydicom.uid import ExplicitVRLittleEndian, generate_uid

        self.aet = "WORKLIST"
        self.port = free_port()
        titles = os.path.join(folder, "worklist", self.aet)
        os.makedirs(titles, exist_ok=True)
        open(os.path.join(titles, "lockfile"), "w").close()
        today = time.strftime("%Y%m%d")
        for index, (name, patient_id, accession) in enumerate(entries):
            step = Dataset()
            step.Modality = "XC"
            step.ScheduledStationAETitle = "VELLORAN"
            step.ScheduledProcedureStepStartDate = today
            step.ScheduledProcedureStepStartTime = "090000"
            step.ScheduledProcedureStepDescription = "WOUND PHOTO"
            step.ScheduledProcedureStepID = "SPS%d" % index
            entry = Dataset()
            entry.SpecificCharacterSet = "ISO_IR 100"
            entry.AccessionNumber = accession
            entry.PatientName = name
            entry.PatientID = patient_id
            entry.PatientBirthDate = "19700101"
            entry.PatientSex = "F"
            entry.RequestedProcedureID = "RP%d" % index
            entry.RequestedProcedureDescription = "WOUND"
            entry.StudyInstanceUID = generate_uid()
            entry.ScheduledProcedureStepSequence = Sequence([step])
            entry.file_meta = FileMetaDataset()
            entry.file_meta.MediaStorageSOPClassUID = "1.2.276.0.7230010.3.1.0.1"
            entry.file_meta.MediaStorageSOPInstanceUID = generate_uid()
            entry.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
            entry.is_little_endian, entry.is_implicit_VR = True, False
            entry.save_as(os.path.join(titles, "entry%d.wl" % index), write_like_original=False)
        self.log = open(os.path.join(folder, "wlmscpfs.log"), "w")
        self.process = subprocess.Popen(
            ["wlmscpfs", "-dfp", os.path.join(folder, "worklist"), str(self.port)],
            stdout=self.log, stderr=subprocess.STDOUT)
        if not wait_listening(self.process, self.port):
            raise RuntimeError("wlmscpfs did not start")

    def stop(self):
        stop_process(self.process)
        self.log.close()


def write_bmp(path, width, height):
    row = bytearray()
    for x in range(width):
        row += bytes(((x * 7) & 255, (x * 3) & 255, 200))
    row += b"\0" * ((4 - len(row) % 4) % 4)
    pixels = bytes(row) * height
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + pixels)


def write_png(path, width, height):
    raw = b"".join(b"\0" + b"".join(bytes(((x * 5) & 255, 90, (y * 9) & 255))
                                     for x in range(width))
                   for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8,
                                                                      2, 0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def write_jpeg(path, width, height):
    ppm = path + ".ppm"
    with open(ppm, "wb") as out:
        out.write(f"P6 {width} {height} 255\n".encode())
        out.write(b"".join(bytes(((x * 4) & 255, (y * 4) & 255, 128))
                           for y in range(height) for x in range(width)))
    with open(path, "wb") as out:
        subprocess.run(["cjpeg", "-quality", "90", ppm], stdout=out, check=True)
    os.remove(ppm)


PDF = (b"%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
       b"2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
       b"3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>>endobj\n"
       b"trailer<</Root 1 0 R>>\n%%EOF\n")


def write_mixed_folder(folder):
    """A folder as a clinic has them: pictures, a report, a PDF, and files the batch skips."""
    os.makedirs(os.path.join(folder, "older"), exist_ok=True)
    write_jpeg(os.path.join(folder, "wound.jpg"), 320, 240)
    write_png(os.path.join(folder, "chart.png"), 64, 48)
    write_bmp(os.path.join(folder, "ecg.bmp"), 80, 40)
    with open(os.path.join(folder, "report.pdf"), "wb") as out:
        out.write(PDF)
    with open(os.path.join(folder, "letter.txt"), "w") as out:
        out.write("Dear colleague,\nthe wound heals well.\n")
    with open(os.path.join(folder, "notes.xyz"), "w") as out:
        out.write("not a kind the batch converts")
    write_jpeg(os.path.join(folder, "older", "skipped.jpg"), 16, 16)
    write_jpeg(os.path.join(folder, ".hidden.jpg"), 16, 16)
    return 5  # objects the folder gives
