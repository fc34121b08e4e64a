"""End to end, as a person would: type the patient, add one photo with Add File, press Send, read
"Images sent OK", and find the photo in Orthanc under that patient and study."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pyatspi  # noqa: E402

import harness  # noqa: E402
from atspi_driver import wait_for  # noqa: E402
from peers import write_jpeg  # noqa: E402


def strip_width(program):
    strip = program.find(name="Items")
    return strip.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).width if strip else -1


def photo_typed_patient_arrives(session):
    photo = session.file("wound.jpg")
    write_jpeg(photo, 320, 240)
    program = session.start_program("InstitutionName=E2E Clinic\n")
    program.type_into("Patient Name", "PHOTO^PETRA")
    program.type_into("Patient ID", "E2E-PHOTO")
    program.type_into("Study Description", "Wound photo")

    program.press("Add File")
    program.choose_file(photo)
    wait_for(lambda: strip_width(program) == 96, 60, "one tile in the strip")

    program.press("Send")
    text = program.answer(timeout=180)
    if "Images sent OK" not in text:
        raise AssertionError("the box after Send says: %r" % text)

    instances = session.orthanc.get("/instances?expand")
    if len(instances) != 1:
        raise AssertionError("Orthanc holds %d objects" % len(instances))
    patient = session.orthanc.get("/instances/%s/patient" % instances[0]["ID"])["MainDicomTags"]
    if patient.get("PatientName") != "PHOTO^PETRA" or patient.get("PatientID") != "E2E-PHOTO":
        raise AssertionError("the patient arrived as %r" % patient)
    tags = session.orthanc.get("/instances/%s/simplified-tags" % instances[0]["ID"])
    if tags.get("StudyDescription") != "Wound photo" or \
            tags.get("InstitutionName") != "E2E Clinic":
        raise AssertionError("the study arrived as %r" % tags)
    wait_for(lambda: strip_width(program) == 0, 30, "an empty strip after the send")
    program.press("End")
    wait_for(lambda: program.process.poll() is not None, 30, "the program to end")


if __name__ == "__main__":
    sys.exit(harness.main([photo_typed_patient_arrives]))
