#!/usr/bin/python3
"""A local demo PACS and worklist for trying the program: Orthanc with its worklist plugin on
loopback only, accepting any AE title, with two procedures scheduled for today, and DICOMweb at
http://127.0.0.1:HTTP_PORT/dicom-web when the DICOMweb plugin is installed. Runs until it is
stopped (SIGTERM or Ctrl+C) and stops Orthanc with it."""

import argparse
import datetime
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile

WORKLIST_PLUGIN = "/usr/share/orthanc/plugins/libModalityWorklists.so"
DICOMWEB_PLUGIN = "/usr/share/orthanc/plugins/libOrthancDicomWeb.so"

ENTRIES = [
    ("DEMO^ANNA", "DEMO-001", "F", "19800512", "DEMOACC1", "CR", "CHEST PA", "REF^ROBERT"),
    ("DEMO^BERT", "DEMO-002", "M", "19650203", "DEMOACC2", "US", "ABDOMEN", "REF^ROBERT"),
]


def write_worklist(folder, date):
    """Two scheduled procedures for `date` (yyyymmdd) as worklist files made with dump2dcm."""
    os.makedirs(folder, exist_ok=True)
    for name, pid, sex, birth, accession, modality, step, referring in ENTRIES:
        dump = (
            "(0008,0005) CS [ISO_IR 100]\n(0008,0050) SH [%s]\n(0008,0090) PN [%s]\n"
            "(0010,0010) PN [%s]\n(0010,0020) LO [%s]\n(0010,0030) DA [%s]\n(0010,0040) CS [%s]\n"
            "(0032,1060) LO [%s]\n(0040,0100) SQ\n(fffe,e000) -\n(0008,0060) CS [%s]\n"
            "(0040,0001) AE [ORTHANC]\n(0040,0002) DA [%s]\n(0040,0003) TM [090000]\n"
            "(0040,0007) LO [%s]\n(0040,0009) SH [SPS-%s]\n(fffe,e00d) -\n(fffe,e0dd) -\n"
            "(0040,1001) SH [RP-%s]\n"
            % (accession, referring, name, pid, birth, sex, step, modality, date, step, pid, pid))
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as text:
            text.write(dump)
        try:
            subprocess.run(["dump2dcm", "--write-xfer-little", text.name,
                            os.path.join(folder, pid + ".wl")], check=True,
                           stdout=subprocess.DEVNULL)
        finally:
            os.remove(text.name)


def port_in_use(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def default_data_folder():
    base = os.environ.get("XDG_DATA_HOME") or os.path.join(os.path.expanduser("~"),
                                                           ".local", "share")
    return os.path.join(base, "velloran", "demo-pacs")


def start(port, http_port, data, log):
    storage = os.path.join(data, "storage")
    worklists = os.path.join(data, "worklists")
    os.makedirs(storage, exist_ok=True)
    write_worklist(worklists, datetime.date.today().strftime("%Y%m%d"))
    config = {
        "Name": "velloran-demo", "DicomAet": "ORTHANC", "DicomPort": port,
        "HttpPort": http_port, "StorageDirectory": storage, "IndexDirectory": storage,
        "RemoteAccessAllowed": False, "AuthenticationEnabled": False,
        "DicomCheckCalledAet": False, "DicomAlwaysAllowFind": True,
        "DicomAlwaysAllowFindWorklist": True, "DicomAlwaysAllowStore": True,
        "Plugins": [WORKLIST_PLUGIN] + ([DICOMWEB_PLUGIN] if os.path.exists(DICOMWEB_PLUGIN) else []),
        "Worklists": {"Enable": True, "Database": worklists},
        # Names match regardless of case over DICOMweb as they do over DICOM.
        "DicomWeb": {"Enable": True, "Root": "/dicom-web/", "QidoCaseSensitive": False},
    }
    path = os.path.join(data, "orthanc.json")
    with open(path, "w") as out:
        json.dump(config, out, indent=1)
    return subprocess.Popen(["Orthanc", path], stdout=log, stderr=subprocess.STDOUT)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=11112, help="DICOM port (11112)")
    parser.add_argument("--http-port", type=int, default=8042, help="web page port (8042)")
    parser.add_argument("--data", default=default_data_folder(), help="data folder")
    args = parser.parse_args()
    os.makedirs(args.data, exist_ok=True)
    if port_in_use(args.http_port):
        args.http_port = free_port()
    with open(os.path.join(args.data, "orthanc.log"), "a") as log:
        orthanc = start(args.port, args.http_port, args.data, log)

        def stop(*_):
            orthanc.terminate()
        signal.signal(signal.SIGTERM, stop)
        signal.signal(signal.SIGINT, stop)
        print("Demo PACS and worklist: AE titles are not checked, DICOM on 127.0.0.1:%d, "
              "web page http://127.0.0.1:%d/ (data in %s)" % (args.port, args.http_port,
                                                             args.data), flush=True)
        return orthanc.wait()


if __name__ == "__main__":
    sys.exit(main())
