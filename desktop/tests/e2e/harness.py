"""Runs end-to-end scenarios: each gets a private X server with the accessibility bus, its own
Orthanc on free loopback ports, a scratch folder, and a copy of the program started with its own
settings. A scenario is a function taking a Session; it raises on a failure. On a failure the
program's output, its log and a screenshot are kept and named.

    def photo_arrives(session):
        program = session.start_program()
        ...

    if __name__ == "__main__":
        sys.exit(harness.main([photo_arrives]))
"""

import argparse
import os
import shutil
import traceback

from atspi_driver import Desktop, Program, scratch_folder
from peers import Orthanc, Worklist, free_port


class Session:
    def __init__(self, program_path, work):
        self.program_path = program_path
        self.work = work
        self.files = os.path.join(work, "files")
        os.makedirs(self.files)
        self.orthanc = Orthanc(os.path.join(work, "pacs"))
        self.worklist = None
        self.program = None

    def start_worklist(self, entries):
        """A worklist server of this session (stopped with it) answering with `entries`, each a
        (patient name, patient ID, accession number)."""
        self.worklist = Worklist(os.path.join(self.work, "worklist"), entries)
        return self.worklist

    def start_program(self, ini_lines="", env=None):
        """The program in a folder of its own, sending to this session's Orthanc; `ini_lines`
        are further lines of the section [velloran]. The worklist server is the session's own
        when one was started, Orthanc otherwise."""
        folder = os.path.join(self.work, "app")
        os.makedirs(folder)
        worklist = self.worklist
        worklist_aet, worklist_port = ((worklist.aet, worklist.port) if worklist is not None
                                       else ("ORTHANC", self.orthanc.dicom_port))
        # Print capture through the raw listener on a free port: no printer application runs
        # for a test.
        ini = ("[velloran]\nremoteAET=ORTHANC\nremotePort=%d\nworklistAET=%s\n"
               "worklistPort=%d\nprintCapture=raw\nPrinterPort=%d\n%s"
               % (self.orthanc.dicom_port, worklist_aet, worklist_port, free_port(), ini_lines))
        environment = {"ASAN_OPTIONS": "detect_leaks=0"}
        environment.update(env or {})
        self.program = Program(self.program_path, folder, ini, env=environment)
        return self.program

    def file(self, name):
        return os.path.join(self.files, name)

    def report(self):
        """What a failure leaves to read: the program's output and its log."""
        if self.program is None:
            return
        self.program.stop()
        print(open(os.path.join(self.program.folder, "program.out"), errors="replace")
              .read()[-4000:])
        logs = os.path.join(self.program.folder, "logs")
        for name in sorted(os.listdir(logs)) if os.path.isdir(logs) else []:
            print(open(os.path.join(logs, name), errors="replace").read()[-4000:])

    def close(self):
        if self.program is not None:
            self.program.stop()
        if self.worklist is not None:
            self.worklist.stop()
        self.orthanc.stop()


def run_scenario(scenario, program_path):
    """True when the scenario passed."""
    work = scratch_folder("velloran-e2e-")
    desktop = Desktop()
    session = None
    keep = False
    try:
        session = Session(program_path, work)
        scenario(session)
        print("PASSED", scenario.__name__)
        return True
    except Exception:  # report with the program's own output
        print("FAILED", scenario.__name__)
        traceback.print_exc()
        if session is not None:
            session.report()
        try:
            desktop.screenshot(os.path.join(work, "failure.png"))
            print("screenshot:", os.path.join(work, "failure.png"))
            keep = True
        except Exception:
            pass
        return False
    finally:
        if session is not None:
            session.close()
        desktop.close()
        if not keep:
            shutil.rmtree(work, ignore_errors=True)


def main(scenarios):
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--only", help="run only the scenario of this name")
    args = parser.parse_args()
    chosen = [s for s in scenarios if args.only in (None, s.__name__)]
    passed = sum(run_scenario(scenario, args.program) for scenario in chosen)
    print("%d passed, %d failed" % (passed, len(chosen) - passed))
    return 0 if passed == len(chosen) else 1
