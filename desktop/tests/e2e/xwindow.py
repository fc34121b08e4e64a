"""Moves and resizes a top-level X window by its title, through libX11, so that a window can be
given the whole screen where no window manager runs to maximise it (under Xvfb)."""

import ctypes
import ctypes.util

_x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
_x11.XOpenDisplay.restype = ctypes.c_void_p
_x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
_x11.XDefaultRootWindow.restype = ctypes.c_ulong
_x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                            ctypes.POINTER(ctypes.c_uint)]
_x11.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
_x11.XMoveResizeWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                   ctypes.c_uint, ctypes.c_uint]
_x11.XFree.argtypes = [ctypes.c_void_p]
_x11.XFlush.argtypes = [ctypes.c_void_p]
_x11.XCloseDisplay.argtypes = [ctypes.c_void_p]


def move_resize(display, title, x, y, width, height):
    """Gives the mapped top-level window titled `title` this geometry; false when none is found."""
    connection = _x11.XOpenDisplay(display.encode())
    if not connection:
        raise RuntimeError("cannot open display " + display)
    try:
        root = _x11.XDefaultRootWindow(connection)
        root_return, parent_return = ctypes.c_ulong(), ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        count = ctypes.c_uint()
        if not _x11.XQueryTree(connection, root, ctypes.byref(root_return),
                               ctypes.byref(parent_return), ctypes.byref(children),
                               ctypes.byref(count)):
            return False
        found = False
        for index in range(count.value):
            name = ctypes.c_char_p()
            if _x11.XFetchName(connection, children[index], ctypes.byref(name)) and name.value:
                if name.value.decode(errors="replace") == title:
                    _x11.XMoveResizeWindow(connection, children[index], x, y, width, height)
                    found = True
                _x11.XFree(name)
        if children:
            _x11.XFree(children)
        _x11.XFlush(connection)
        return found
    finally:
        _x11.XCloseDisplay(connection)
