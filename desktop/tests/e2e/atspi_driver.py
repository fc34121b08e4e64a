"""Drives the real velloran window through the accessibility tree, as a screen reader or a
person's test tool would: a private X server, a private session bus with the accessibility bus,
and the program started on them."""

import os
import shutil
import subprocess
import tempfile
import time

import pyatspi
from peers import stop_process
from gi.repository import Gio, GLib


class Desktop:
    """Xvfb on a free display and a session bus with the accessibility bus launched on it."""

    def __init__(self, width=1280, height=800):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        os.environ["DISPLAY"] = self.display
        os.environ["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        os.environ["QT_ACCESSIBILITY"] = "1"
        os.environ["NO_AT_BRIDGE"] = "0"
        os.environ.pop("QT_QPA_PLATFORM", None)
        self.launcher = subprocess.Popen(
            ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A program started before the accessibility registry runs never joins the tree.
        wait_for(registry_running, 60, "the accessibility registry")

    def close(self):
        for process in (self.launcher, self.xvfb):
            stop_process(process, timeout=10)

    def screenshot(self, path, geometry=None):
        command = ["import", "-display", self.display, "-window", "root"]
        if geometry:
            command += ["-crop", geometry]
        subprocess.run(command + [path], check=True, timeout=60)


def registry_running():
    """True once the accessibility bus answers and its registry has taken its name."""
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                              None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 2000, None)
    address = reply.unpack()[0]
    bus = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    try:
        # The registry starts on demand; ask for it, then see that it holds its name.
        bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "StartServiceByName", GLib.Variant("(su)", ("org.a11y.atspi.Registry", 0)),
                      GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, 10000, None)
        owned = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "NameHasOwner",
                              GLib.Variant("(s)", ("org.a11y.atspi.Registry",)),
                              GLib.VariantType("(b)"), Gio.DBusCallFlags.NONE, 2000, None)
        return owned.unpack()[0]
    finally:
        bus.close_sync(None)


def wait_for(condition, timeout=60.0, what="condition"):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            result = condition()
        except Exception:  # the tree changes under us while the program works
            result = None
        if result:
            return result
        time.sleep(0.2)
    raise TimeoutError("timed out waiting for " + what)


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for index in range(node.childCount):
        try:
            child = node.getChildAtIndex(index)
        except Exception:
            continue
        yield from walk(child, depth + 1)


class Program:
    """The velloran program copied into its own folder (its settings, work/ and logs/ live
    beside it, its outbox in data/ there) and started on the desktop."""

    def __init__(self, executable, folder, ini_text, env=None):
        self.folder = folder
        self.executable = os.path.join(folder, "velloran")
        shutil.copy2(executable, self.executable)
        with open(os.path.join(folder, "velloran.ini"), "w", encoding="utf-8") as ini:
            ini.write(ini_text)
        environment = dict(os.environ)
        # The print capture must not meet the machine's own spooler: no scheduler answers here,
        # so no printer queue is made, and the listener takes the PrinterPort of the ini.
        environment["CUPS_SERVER"] = os.path.join(folder, "no-cups.sock")
        # The outbox lives in the per-user data folder: a copy of its own keeps the objects of
        # one scenario from being delivered to another scenario's PACS (or from staying in the
        # outbox of the user running the tests and reaching that user's PACS later).
        environment["XDG_DATA_HOME"] = os.path.join(folder, "data")
        # The scenarios find controls by their English names, whatever the desktop speaks (a
        # scenario may choose another language with the setting).
        environment["LANGUAGE"] = "en"
        environment.update(env or {})
        self.log = open(os.path.join(folder, "program.out"), "w")
        self.process = subprocess.Popen([self.executable], cwd=folder, env=environment,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.app = wait_for(self._find_app, 90, "the program in the accessibility tree")
        # The main window is the application's first top-level child, titled VELLORAN.
        self.window = wait_for(lambda: next((child for child in self.app
                                             if child is not None and child.name == "VELLORAN"),
                                            None), 60, "the main window")

    def _find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.get_process_id() == self.process.pid:
                return app
        return None

    def find(self, role=None, name=None, root=None, showing=True):
        for node in walk(root or self.app):
            if role is not None and node.getRole() != role:
                continue
            if name is not None and node.name != name:
                continue
            if showing and not node.getState().contains(pyatspi.STATE_SHOWING):
                continue
            return node
        return None

    def find_all(self, role, root=None):
        return [node for node in walk(root or self.app) if node.getRole() == role]

    def type_into(self, name, text):
        field = wait_for(lambda: self.find(role=pyatspi.ROLE_TEXT, name=name), 30, name)
        field.queryEditableText().setTextContents(text)
        return field

    def press(self, name, root=None):
        button = wait_for(lambda: self.find(role=pyatspi.ROLE_PUSH_BUTTON, name=name, root=root),
                          30, "button " + name)
        action = button.queryAction()
        for index in range(action.nActions):
            if action.getName(index) in ("Press", "press", "click", "SetFocus"):
                if action.getName(index) != "SetFocus":
                    action.doAction(index)
                    return button
        action.doAction(0)
        return button

    def dialog(self, timeout=60, name=None):
        """The first dialog or alert showing (a message box or a file dialog), or the one with
        that title."""
        def showing_dialog():
            for node in walk(self.app):
                if node.getRole() in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT,
                                      pyatspi.ROLE_FILE_CHOOSER) and \
                        node.getState().contains(pyatspi.STATE_SHOWING) and \
                        (name is None or node.name == name):
                    return node
            return None
        return wait_for(showing_dialog, timeout, "a dialog")

    def message_text(self, box):
        texts = [node.name for node in walk(box) if node.getRole() == pyatspi.ROLE_LABEL]
        for node in walk(box):
            if node.getRole() in (pyatspi.ROLE_LABEL, pyatspi.ROLE_TEXT, pyatspi.ROLE_STATIC):
                try:
                    text = node.queryText().getText(0, -1)
                    if text:
                        texts.append(text)
                except Exception:
                    pass
        return "\n".join(text for text in texts if text)

    def choose_folder(self, path, title="Please select a folder with DICOM objects:",
                      button="Choose"):
        """Answers the folder dialog (titled and labelled in the window's language) by typing the
        path and choosing it."""
        self._answer_chooser(self.dialog(name=title), path, button)

    def choose_file(self, path):
        """Answers the Add File dialog by typing the path and opening it."""
        self._answer_chooser(self.dialog(), path, "Open")

    def _answer_chooser(self, chooser, path, button):
        field = wait_for(lambda: next((node for node in walk(chooser)
                                       if node.getRole() == pyatspi.ROLE_TEXT and
                                       node.getState().contains(pyatspi.STATE_EDITABLE)), None),
                         30, "the file dialog's name field")
        field.queryEditableText().setTextContents(path)
        time.sleep(0.5)
        self.press(button, root=chooser)

    def answer(self, button="OK", timeout=60):
        """The text of the next message box, answered with `button`."""
        box = self.dialog(timeout=timeout)
        text = self.message_text(box)
        self.press(button, root=box)
        return text

    def stop(self):
        stop_process(self.process)
        if not self.log.closed:
            self.log.close()


def scratch_folder(prefix):
    return tempfile.mkdtemp(prefix=prefix)
