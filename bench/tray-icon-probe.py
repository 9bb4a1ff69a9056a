#!/usr/bin/python3
"""Starts a tray program and measures, to the millisecond, the time until its
icon is embedded and viewable in trayer's panel on the current X display; then
lets it idle and reads its resident memory. Talks to Xlib through ctypes, so
it needs no development package and polls far faster than xwininfo could.

Usage: tray-icon-probe.py [--hold SECONDS] WM-CLASS-NAME PROGRAM [ARGS...]
Prints: icon_ms=<ms> and, after the hold, rss_kb=<kB>; the program is then
ended with SIGTERM (and SIGKILL if it does not end within 5 s).
"""
import ctypes
import os
import signal
import subprocess
import sys
import time

Window = ctypes.c_ulong
IS_VIEWABLE = 2


class XWindowAttributes(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
        ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
        ("visual", ctypes.c_void_p), ("root", Window), ("class_", ctypes.c_int),
        ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
        ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
        ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
        ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
        ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
        ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
        ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p),
    ]


class XClassHint(ctypes.Structure):
    _fields_ = [("res_name", ctypes.c_void_p), ("res_class", ctypes.c_void_p)]


x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = Window
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XQueryTree.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(Window),
                           ctypes.POINTER(Window), ctypes.POINTER(ctypes.POINTER(Window)),
                           ctypes.POINTER(ctypes.c_uint)]
x11.XGetClassHint.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(XClassHint)]
x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, Window,
                                     ctypes.POINTER(XWindowAttributes)]
x11.XFree.argtypes = [ctypes.c_void_p]
ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
# Windows come and go while we walk the tree: their errors are expected.
ignore_errors = ERROR_HANDLER(lambda display, event: 0)
x11.XSetErrorHandler(ignore_errors)


def children(display, window):
    root, parent = Window(), Window()
    kids = ctypes.POINTER(Window)()
    count = ctypes.c_uint()
    if not x11.XQueryTree(display, window, ctypes.byref(root), ctypes.byref(parent),
                          ctypes.byref(kids), ctypes.byref(count)):
        return []
    result = [kids[i] for i in range(count.value)]
    if kids:
        x11.XFree(kids)
    return result


def class_name(display, window):
    hint = XClassHint()
    if not x11.XGetClassHint(display, window, ctypes.byref(hint)):
        return None, None
    name = ctypes.string_at(hint.res_name).decode() if hint.res_name else None
    klass = ctypes.string_at(hint.res_class).decode() if hint.res_class else None
    for pointer in (hint.res_name, hint.res_class):
        if pointer:
            x11.XFree(pointer)
    return name, klass


def find(display, window, predicate):
    for child in children(display, window):
        if predicate(child):
            return child
        found = find(display, child, predicate)
        if found:
            return found
    return None


def viewable(display, window):
    attributes = XWindowAttributes()
    if not x11.XGetWindowAttributes(display, window, ctypes.byref(attributes)):
        return False
    return attributes.map_state == IS_VIEWABLE


def main():
    args = sys.argv[1:]
    hold = 0.0
    if args[:1] == ["--hold"]:
        hold = float(args[1])
        args = args[2:]
    wanted, command = args[0], args[1:]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("tray-icon-probe: cannot open the display")
    panel = find(display, x11.XDefaultRootWindow(display),
                 lambda w: class_name(display, w) == ("panel", "trayer"))
    if not panel:
        sys.exit("tray-icon-probe: no trayer panel on this display")

    start = time.monotonic()
    process = subprocess.Popen(command)
    icon_ms = None
    try:
        while time.monotonic() - start < 30:
            icon = find(display, panel, lambda w: class_name(display, w)[0] == wanted)
            if icon and viewable(display, icon):
                icon_ms = (time.monotonic() - start) * 1000
                break
            if process.poll() is not None:
                break
            time.sleep(0.002)  # leaves the program the CPU it measures
        if icon_ms is None:
            sys.exit("tray-icon-probe: the icon of %s never showed" % wanted)
        print("icon_ms=%.1f" % icon_ms, flush=True)
        if hold > 0:
            time.sleep(hold)
            with open("/proc/%d/status" % process.pid) as status:
                for line in status:
                    if line.startswith("VmRSS:"):
                        print("rss_kb=%s" % line.split()[1], flush=True)
    finally:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


if __name__ == "__main__":
    main()
