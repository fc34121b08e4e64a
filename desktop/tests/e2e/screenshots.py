"""Screenshots of the main window (a filled grid, strip and preview, and the outbox indicator with
objects waiting for a PACS that does not answer) at its designed size, filling a 1920 x 1080
screen, while it sends (with Cancel showing) and at scale 2, and of the settings dialog's PACS and
Local tabs, taken of the real program under Xvfb."""

import argparse
import os
import shutil
import socket
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, "..", "..", "..", "scripts"))

import pyatspi  # noqa: E402

import demo_pacs  # noqa: E402
from atspi_driver import Desktop, Program, scratch_folder, wait_for, walk  # noqa: E402
from peers import free_port, stop_process, wait_for_port, write_mixed_folder  # noqa: E402
from xwindow import move_resize  # noqa: E402

SCREEN = (1920, 1080)


def extents(node):
    return node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)


def crop_of(node, scale=1):
    """The node's place on the screen; the accessibility tree gives it in the program's own
    (unscaled) pixels."""
    box = extents(node)
    return "%dx%d+%d+%d" % (box.width * scale, box.height * scale, box.x * scale, box.y * scale)


def write_waiting_folder(folder, sources):
    """Three pictures of the mixed folder, sent while the PACS does not answer."""
    os.makedirs(folder)
    for name in ("wound.jpg", "chart.png", "ecg.bmp"):
        shutil.copy(os.path.join(sources, name), folder)


def filled_window(program_path, work, name, pacs_port, sources, env, scale=1, send_port=None,
                  waiting=None):
    """The program with a worklist search in its grid, the mixed folder in its strip and the first
    picture in its preview; it sends to `send_port` when given, to the demo PACS otherwise. The
    pictures of the folder `waiting` are sent first, to a `send_port` nobody listens on: they
    wait in the outbox and the indicator says so."""
    app_folder = os.path.join(work, name)
    os.makedirs(app_folder)
    program = Program(program_path, app_folder,
                      "[velloran]\nremoteAET=ORTHANC\nremotePort=%d\nworklistAET=ORTHANC\n"
                      "worklistPort=%d\nprintCapture=raw\nPrinterPort=%d\nstorageCommitment=1\n"
                      "commitmentPort=%d\n"
                      % (send_port or pacs_port, pacs_port, free_port(), free_port()), env=env)
    program.press("Search WL")
    grid = program.find(name="Results")
    wait_for(lambda: any(node.name == "DEMO^ANNA" for node in
                         program.find_all(pyatspi.ROLE_TABLE_CELL, grid)), 60, "results")
    if waiting is not None:
        program.press("Add Folder")
        program.choose_folder(waiting)
        strip = wait_for(lambda: program.find(name="Items"), 30, "the item strip")
        wait_for(lambda: extents(strip).width == 3 * 96, 60, "three tiles in the strip")
        program.press("Send")
        said = program.answer(timeout=120)
        if "wait in the outbox" not in said:
            raise RuntimeError("Send did not leave the objects in the outbox: " + said)
        wait_for(lambda: program.find(role=pyatspi.ROLE_PUSH_BUTTON, name="Outbox"), 60,
                 "the outbox indicator")
    program.press("Add Folder")
    program.choose_folder(sources)
    strip = program.find(name="Items")
    wait_for(lambda: extents(strip).width > 0, 60, "tiles")
    # A click on the first tile, a picture, shows it in the preview.
    box = extents(strip)
    pyatspi.Registry.generateMouseEvent((box.x + 20) * scale, (box.y + 20) * scale, "b1c")
    time.sleep(1.5)
    return program


def show_tab(program, dialog, name, field):
    """Brings the dialog's tab of that name, the one holding `field`, to the front."""
    tab = wait_for(lambda: next((node for node in walk(dialog)
                                 if node.getRole() == pyatspi.ROLE_PAGE_TAB and node.name == name),
                                None), 30, "the tab " + name)
    action = tab.queryAction()
    action.doAction(next(index for index in range(action.nActions)
                         if action.getName(index) == "Press"))
    wait_for(lambda: program.find(name=field, root=dialog), 30, "the tab " + name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    work = scratch_folder("velloran-shots-")
    desktop = Desktop(*SCREEN)
    orthanc = program = None
    env = {"ASAN_OPTIONS": "detect_leaks=0"}
    # A PACS that takes the connection and never answers: a Send then stays under way, with
    # Cancel showing, for as long as the picture takes.
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(4)
    try:
        port = free_port()
        with open(os.path.join(work, "orthanc.log"), "w") as log:
            orthanc = demo_pacs.start(port, free_port(), os.path.join(work, "pacs"), log)
        if not wait_for_port(port):
            raise RuntimeError("the demo PACS did not start")
        sources = os.path.join(work, "sources")
        write_mixed_folder(sources)
        waiting = os.path.join(work, "waiting")
        write_waiting_folder(waiting, sources)
        # A PACS port nobody listens on: what is sent there waits in the outbox.
        gone = free_port()

        # At the designed size, then given the whole screen (Xvfb has no window manager to
        # maximise it: the window is resized to the screen, as maximising would).
        program = filled_window(args.program, work, "default", port, sources, env,
                                send_port=gone, waiting=waiting)
        desktop.screenshot(os.path.join(args.out, "screenshot-main.png"), crop_of(program.window))
        program.press("Setup")
        dialog = program.dialog()
        show_tab(program, dialog, "PACS", "Commitment port")
        time.sleep(1.0)
        desktop.screenshot(os.path.join(args.out, "screenshot-setup.png"), crop_of(dialog))
        program.press("Cancel", root=dialog)
        if not move_resize(desktop.display, "VELLORAN", 0, 0, *SCREEN):
            raise RuntimeError("the main window was not found on the display")
        wait_for(lambda: extents(program.window).width == SCREEN[0], 30, "the resized window")
        time.sleep(1.5)
        desktop.screenshot(os.path.join(args.out, "screenshot-main-1920x1080.png"))

        program.stop()
        program = None

        # At the designed size, sending: Cancel beside Save To Folder, the patient above.
        program = filled_window(args.program, work, "sending", port, sources, env,
                                send_port=silent.getsockname()[1])
        program.press("Send")
        wait_for(lambda: program.find(role=pyatspi.ROLE_PUSH_BUTTON, name="Cancel"), 30,
                 "Cancel during the send")
        time.sleep(1.0)
        desktop.screenshot(os.path.join(args.out, "screenshot-main-sending.png"),
                           crop_of(program.window))
        program.stop()
        program = None

        # The Local tab with print capture at its default, the printer application, which does
        # not run here: the window says so at start.
        app_folder = os.path.join(work, "local")
        os.makedirs(app_folder)
        program = Program(args.program, app_folder, "[velloran]\n", env=env)
        said = program.answer()
        if "print capture is off" not in said:
            raise RuntimeError("the window did not say that print capture is off: " + said)
        program.press("Setup")
        dialog = program.dialog(name="Setup")
        show_tab(program, dialog, "Local", "Print capture")
        time.sleep(1.0)
        desktop.screenshot(os.path.join(args.out, "screenshot-setup-local.png"), crop_of(dialog))
        program.stop()
        program = None

        # At scale 2, as on a high-density screen.
        program = filled_window(args.program, work, "scale2", port, sources,
                                dict(env, QT_SCALE_FACTOR="2"), scale=2, send_port=gone,
                                waiting=waiting)
        desktop.screenshot(os.path.join(args.out, "screenshot-main-scale2.png"),
                           crop_of(program.window, scale=2))
        print("screenshots written to", args.out)
        return 0
    finally:
        if program is not None:
            program.stop()
        if orthanc is not None:
            stop_process(orthanc)
        silent.close()
        desktop.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
