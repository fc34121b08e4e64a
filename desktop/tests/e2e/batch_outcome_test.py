"""End to end, as a person would: what is on screen is what is sent. An item that gives no object
stays in the strip and is named; a cancelled 200-photo send stops after the object in flight and
keeps the rest; an untouched birth date arrives empty; a chosen worklist row's patient is shown
above Send and arrives."""

import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pyatspi  # noqa: E402

import harness  # noqa: E402
from atspi_driver import wait_for  # noqa: E402
from peers import write_jpeg  # noqa: E402

TILE = 96


def strip_width(program):
    strip = program.find(name="Items")
    return strip.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).width if strip else -1


def add_file(program, path):
    program.press("Add File")
    program.choose_file(path)


def end(program):
    program.press("End")
    wait_for(lambda: program.process.poll() is not None, 30, "the program to end")


def photo_arrives_and_empty_text_stays_named(session):
    photo = session.file("wound.jpg")
    write_jpeg(photo, 320, 240)
    empty = session.file("empty.txt")
    open(empty, "w").close()
    program = session.start_program()
    program.type_into("Patient Name", "EMPTY^ERNA")
    program.type_into("Patient ID", "E2E-EMPTY")
    # "Patient BD" is left as it is.
    add_file(program, photo)
    wait_for(lambda: strip_width(program) == TILE, 60, "the photo's tile")
    add_file(program, empty)
    wait_for(lambda: strip_width(program) == 2 * TILE, 60, "two tiles in the strip")

    program.press("Send")
    text = program.answer(timeout=180)
    if "Images sent OK" in text or "1 of 2 items were not sent: empty.txt (no text)" not in text:
        raise AssertionError("the box after Send says: %r" % text)
    instances = session.orthanc.get("/instances")
    if len(instances) != 1:
        raise AssertionError("Orthanc holds %d objects" % len(instances))
    tags = session.orthanc.get("/instances/%s/simplified-tags" % instances[0])
    if tags.get("PatientName") != "EMPTY^ERNA":
        raise AssertionError("the photo arrived as %r" % tags)
    # The birth date is there, and empty: never today's date.
    if tags.get("PatientBirthDate") != "":
        raise AssertionError("the birth date arrived as %r" % tags.get("PatientBirthDate"))
    # Only the photo left the strip.
    wait_for(lambda: strip_width(program) == TILE, 30, "the text file's tile left in the strip")
    end(program)


def cancel_stops_a_200_photo_send_after_the_object_in_flight(session):
    photos = session.file("photos")
    os.makedirs(photos)
    first = os.path.join(photos, "photo000.jpg")
    write_jpeg(first, 640, 480)
    for index in range(1, 200):
        shutil.copyfile(first, os.path.join(photos, "photo%03d.jpg" % index))
    # Stored directly, object after object; through the outbox a cancel stops the conversion
    # instead, which the outbox's own tests show.
    program = session.start_program("keepUnsentInOutbox=0\n")
    program.type_into("Patient Name", "MANY^MONA")
    program.type_into("Patient ID", "E2E-MANY")
    program.press("Add Folder")
    program.choose_folder(photos)
    wait_for(lambda: strip_width(program) == 200 * TILE, 120, "200 tiles in the strip")

    program.press("Send")
    cancel = wait_for(lambda: program.find(role=pyatspi.ROLE_PUSH_BUTTON, name="Cancel"), 60,
                      "the Cancel button")
    progress = wait_for(lambda: program.find(name="Progress"), 30, "the progress bar")
    # Cancel once the first objects are stored, while the others still go out.
    wait_for(lambda: progress.queryValue().currentValue >= 1, 180, "the first object stored")
    cancel.queryAction().doAction(0)
    text = program.answer(timeout=180)
    found = re.search(r"Send cancelled: (\d+) of 200 items were stored: .*; the other (\d+) stay "
                      r"in the list\.", text, re.S)
    if not found:
        raise AssertionError("the box after Cancel says: %r" % text)
    stored, kept = int(found.group(1)), int(found.group(2))
    print("cancelled with %d stored and %d kept" % (stored, kept))
    if not 1 <= stored < 200 or stored + kept != 200:
        raise AssertionError("%d stored and %d kept" % (stored, kept))
    # What the box calls stored is what arrived, and nothing more comes after it.
    time.sleep(1)
    arrived = len(session.orthanc.get("/instances"))
    if arrived != stored:
        raise AssertionError("Orthanc holds %d objects, the box says %d" % (arrived, stored))
    wait_for(lambda: strip_width(program) == kept * TILE, 30, "the unsent photos in the strip")
    end(program)


def chosen_worklist_patient_is_shown_and_arrives(session):
    session.start_worklist([("WORK^WILMA", "WL-7", "ACC0042")])
    photo = session.file("wound.jpg")
    write_jpeg(photo, 320, 240)
    program = session.start_program()
    program.press("Search WL")
    # The first row is chosen by itself; its patient is named above Send.
    wait_for(lambda: program.find(role=pyatspi.ROLE_LABEL,
                                  name="Batch for WORK^WILMA \u00b7 ID WL-7 \u00b7 ACC ACC0042"),
             60, "the batch's patient above Send")
    add_file(program, photo)
    wait_for(lambda: strip_width(program) == TILE, 60, "the photo's tile")
    program.press("Send")
    text = program.answer(timeout=180)
    if "Images sent OK" not in text:
        raise AssertionError("the box after Send says: %r" % text)
    studies = session.orthanc.get("/studies?expand")
    if len(studies) != 1:
        raise AssertionError("Orthanc holds %d studies" % len(studies))
    patient = studies[0]["PatientMainDicomTags"]
    study = studies[0]["MainDicomTags"]
    if patient.get("PatientName") != "WORK^WILMA" or patient.get("PatientID") != "WL-7" or \
            study.get("AccessionNumber") != "ACC0042":
        raise AssertionError("the study arrived as %r, %r" % (patient, study))
    end(program)


if __name__ == "__main__":
    sys.exit(harness.main([photo_arrives_and_empty_text_stays_named,
                           cancel_stops_a_200_photo_send_after_the_object_in_flight,
                           chosen_worklist_patient_is_shown_and_arrives]))
