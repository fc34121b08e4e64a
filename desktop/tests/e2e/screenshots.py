"""Screenshots of the main window (a filled grid and strip) and of the settings dialog, taken of
the real program under Xvfb."""

import argparse
import datetime
import os
import shutil
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, "..", "..", "..", "scripts"))

import pyatspi  # noqa: E402

import demo_pacs  # noqa: E402
from atspi_driver import Desktop, Program, scratch_folder, wait_for  # noqa: E402
from peers import free_port, wait_for_port, write_mixed_folder  # noqa: E402


def crop_of(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return "%dx%d+%d+%d" % (box.width, box.height, box.x, box.y)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    work = scratch_folder("velloran-shots-")
    desktop = Desktop(1100, 700)
    orthanc = program = None
    try:
        port = free_port()
        with open(os.path.join(work, "orthanc.log"), "w") as log:
            orthanc = demo_pacs.start(port, free_port(), os.path.join(work, "pacs"), log)
        if not wait_for_port(port):
            raise RuntimeError("the demo PACS did not start")
        sources = os.path.join(work, "sources")
        write_mixed_folder(sources)
        app_folder = os.path.join(work, "app")
        os.makedirs(app_folder)
        program = Program(args.program, app_folder,
                          "[velloran]\nremoteAET=ORTHANC\nremotePort=%d\nworklistAET=ORTHANC\n"
                          "worklistPort=%d\nPrinterPort=%d\n" % (port, port, free_port()),
                          env={"ASAN_OPTIONS": "detect_leaks=0"})
        program.press("Search WL")
        grid = program.find(name="Results")
        wait_for(lambda: any(node.name == "DEMO^ANNA" for node in
                             program.find_all(pyatspi.ROLE_TABLE_CELL, grid)), 60, "results")
        program.press("Add Folder")
        program.choose_folder(sources)
        strip = program.find(name="Items")
        wait_for(lambda: strip.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).width > 0, 60,
                 "tiles")
        time.sleep(1.0)
        desktop.screenshot(os.path.join(args.out, "screenshot-main.png"), crop_of(program.window))

        program.press("Setup")
        dialog = program.dialog()
        time.sleep(1.0)
        desktop.screenshot(os.path.join(args.out, "screenshot-setup.png"), crop_of(dialog))
        program.press("Cancel", root=dialog)
        print("screenshots written to", args.out)
        return 0
    finally:
        if program is not None:
            program.stop()
        if orthanc is not None:
            orthanc.terminate()
            orthanc.wait(timeout=20)
        desktop.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
