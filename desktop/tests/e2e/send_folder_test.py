"""End to end, as a person would: type the patient, add a folder of mixed files, press Send to
Orthanc, read the "Images sent OK" box, and find one study with every object in Orthanc."""

import argparse
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pyatspi  # noqa: E402

from atspi_driver import Desktop, Program, scratch_folder, wait_for  # noqa: E402
from peers import Orthanc, free_port, write_mixed_folder  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    args = parser.parse_args()

    work = scratch_folder("velloran-e2e-")
    desktop = Desktop()
    orthanc = None
    program = None
    try:
        orthanc = Orthanc(os.path.join(work, "pacs"))
        sources = os.path.join(work, "sources")
        expected_objects = write_mixed_folder(sources)
        app_folder = os.path.join(work, "app")
        os.makedirs(app_folder)
        program = Program(
            args.program, app_folder,
            "[velloran]\nremoteAET=ORTHANC\nremotePort=%d\nInstitutionName=E2E Clinic\n"
            "PrinterPort=%d\n" % (orthanc.dicom_port, free_port()),
            env={"ASAN_OPTIONS": "detect_leaks=0"})

        program.type_into("Patient Name", "E2E^ERIKA")
        program.type_into("Patient ID", "E2E-1")
        program.type_into("Study Description", "Wound check")

        program.press("Add Folder")
        program.choose_folder(sources)
        # The strip grows to five tiles of 96 pixels.
        strip = wait_for(lambda: program.find(name="Items"), 30, "the item strip")
        wait_for(lambda: strip.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).width ==
                 expected_objects * 96, 60, "five tiles in the strip")

        program.press("Send")
        box = program.dialog(timeout=180)
        text = program.message_text(box)
        if "Images sent OK" not in text:
            raise AssertionError("the box after Send says: %r" % text)
        program.press("OK", root=box)

        patients = orthanc.get("/patients?expand")
        if len(patients) != 1:
            raise AssertionError("Orthanc holds %d patients" % len(patients))
        tags = patients[0]["MainDicomTags"]
        if tags.get("PatientName") != "E2E^ERIKA" or tags.get("PatientID") != "E2E-1":
            raise AssertionError("patient arrived as %r" % tags)
        studies = orthanc.get("/studies?expand")
        if len(studies) != 1:
            raise AssertionError("Orthanc holds %d studies" % len(studies))
        instances = orthanc.get("/instances")
        if len(instances) != expected_objects:
            raise AssertionError("Orthanc holds %d objects, expected %d"
                                 % (len(instances), expected_objects))
        # A successful Send empties the strip.
        wait_for(lambda: strip.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).width == 0,
                 30, "an empty strip")
        program.press("End")
        wait_for(lambda: program.process.poll() is not None, 30, "the program to end")
        print("1 passed, 0 failed")
        return 0
    except Exception as error:  # report with the program's own output
        print("FAILED:", error)
        if program is not None:
            program.stop()
            print(open(os.path.join(program.folder, "program.out")).read()[-4000:])
            logs = os.path.join(program.folder, "logs")
            for name in sorted(os.listdir(logs)) if os.path.isdir(logs) else []:
                print(open(os.path.join(logs, name), errors="replace").read()[-4000:])
        try:
            desktop.screenshot(os.path.join(work, "failure.png"))
            print("screenshot:", os.path.join(work, "failure.png"))
            work = None  # keep the folder for the screenshot
        except Exception:
            pass
        return 1
    finally:
        if program is not None:
            program.stop()
        if orthanc is not None:
            orthanc.stop()
        desktop.close()
        if work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
