"""End to end, as a person would: type the patient, add a folder of mixed files, press Send to
Orthanc, read the "Images sent OK" box, and find one study with every object in Orthanc."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pyatspi  # noqa: E402

import harness  # noqa: E402
from atspi_driver import wait_for  # noqa: E402
from peers import write_mixed_folder  # noqa: E402


def folder_of_mixed_files_arrives_as_one_study(session):
    sources = session.file("sources")
    expected_objects = write_mixed_folder(sources)
    program = session.start_program("InstitutionName=E2E Clinic\n")
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
    text = program.answer(timeout=180)
    if "Images sent OK" not in text:
        raise AssertionError("the box after Send says: %r" % text)

    orthanc = session.orthanc
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


if __name__ == "__main__":
    sys.exit(harness.main([folder_of_mixed_files_arrives_as_one_study]))
