#!/usr/bin/env python3
# Input latency seen from outside the browser: presses player 1's paddle keys (A up, Z down) on an
# X display with XTest at random moments, each held 20-60 ms, and times each press from the moment
# the X server took it to the first read of the screen (XGetImage, every half millisecond) that
# shows the paddle moved. Reads one screen column through the paddle's track; a press counts only
# if the column changed from the paddle alone to the paddle alone, shifted the way the key moves it
# (anything else there, e.g. the ball or a message, discards the press). Releases are not timed.
# measure-outside.mjs runs it; by hand:
#   python3 xtest-latency.py DISPLAY X Y SCALE ROWS LENGTH TOP PRESSES SECONDS
# X, Y: the screen pixel of the track's first row in the paddle's column; SCALE: screen pixels a
# game pixel; ROWS: the track's game rows; LENGTH: the paddle's, as drawn; TOP: the row of the
# track where the paddle starts now (-1: anywhere). Prints one line of JSON.
# Without a window manager nothing gives Chromium's window the focus: a click does, first.
#   python3 xtest-latency.py DISPLAY click X Y
import ctypes
import json
import random
import sys
import time

TIMEOUT, QUIET = 0.2, 0.06  # seconds: no move by then discards a press; a still picture before one


class XImage(ctypes.Structure):
    _fields_ = [('width', ctypes.c_int), ('height', ctypes.c_int), ('xoffset', ctypes.c_int),
                ('format', ctypes.c_int), ('data', ctypes.c_void_p), ('byte_order', ctypes.c_int),
                ('bitmap_unit', ctypes.c_int), ('bitmap_bit_order', ctypes.c_int), ('bitmap_pad', ctypes.c_int),
                ('depth', ctypes.c_int), ('bytes_per_line', ctypes.c_int), ('bits_per_pixel', ctypes.c_int)]


def main():
    display = sys.argv[1]
    xlib, xtst = ctypes.CDLL('libX11.so.6'), ctypes.CDLL('libXtst.so.6')
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XDefaultRootWindow.restype = ctypes.c_ulong
    xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    xlib.XGetImage.restype = ctypes.POINTER(XImage)
    xlib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                               ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    xlib.XDestroyImage.argtypes = [ctypes.POINTER(XImage)]
    xlib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    xlib.XStringToKeysym.restype = ctypes.c_ulong
    xlib.XStringToKeysym.argtypes = [ctypes.c_char_p]
    xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
    xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    dpy = xlib.XOpenDisplay(display.encode())
    if not dpy:
        sys.exit(f'xtest-latency: cannot open display {display}')
    if sys.argv[2] == 'click':
        xtst.XTestFakeMotionEvent(dpy, -1, int(sys.argv[3]), int(sys.argv[4]), 0)
        xtst.XTestFakeButtonEvent(dpy, 1, 1, 0)
        xtst.XTestFakeButtonEvent(dpy, 1, 0, 0)
        xlib.XSync(dpy, 0)
        return
    x, y, scale, rows, length, expected, presses = map(int, sys.argv[2:9])
    deadline = time.perf_counter() + float(sys.argv[9])
    root = xlib.XDefaultRootWindow(dpy)
    codes = {k: xlib.XKeysymToKeycode(dpy, xlib.XStringToKeysym(k.encode())) for k in ('a', 'z')}

    def column():  # lit or not, one entry a game row of the track
        img = xlib.XGetImage(dpy, root, x, y, 1, rows * scale, 0xFFFFFFFF, 2)  # ZPixmap
        if not img:
            sys.exit('xtest-latency: XGetImage failed')
        im = img.contents
        if im.bits_per_pixel != 32:
            sys.exit(f'xtest-latency: {im.bits_per_pixel} bits a pixel, 32 wanted')
        raw = ctypes.string_at(im.data, im.bytes_per_line * im.height)
        step = im.bytes_per_line
        # silver or white: a row's middle screen pixel
        lit = bytes(min(raw[o:o + 3]) > 128 for o in range(scale // 2 * step, len(raw), scale * step))
        xlib.XDestroyImage(img)
        return lit

    def paddle(col):  # where the paddle starts when the column shows the paddle alone
        start = col.find(1)
        if start < 0 or col[start:start + length] != bytes([1]) * length or col.find(1, start + length) >= 0:
            return None
        return start

    def key(name, down):
        xtst.XTestFakeKeyEvent(dpy, codes[name], 1 if down else 0, 0)
        xlib.XSync(dpy, 0)
        return time.perf_counter()

    def quiet():  # until the column has stood still for QUIET seconds (at most one second)
        col, since, give_up = column(), time.perf_counter(), time.perf_counter() + 1
        while time.perf_counter() - since < QUIET and time.perf_counter() < give_up:
            time.sleep(0.002)
            now = column()
            if now != col:
                col, since = now, time.perf_counter()

    start = paddle(column())
    if expected >= 0 and start != expected:
        sys.exit(f'xtest-latency: the paddle is not where it should be (row {start}, wanted {expected})')
    out = {'latencies': [], 'timeouts': 0, 'other': 0, 'unclean': 0, 'stalled': False}
    direction, in_a_row = -1, 0
    while len(out['latencies']) + out['timeouts'] + out['other'] < presses and time.perf_counter() < deadline:
        quiet()
        time.sleep(random.uniform(0.01, 0.05))
        before = column()
        top = paddle(before)
        if top is None:  # the ball or a message stands in the column
            out['unclean'] += 1
            in_a_row += 1
            if in_a_row >= 250:  # five seconds and more: not the picture of a rally
                out['stalled'] = True
                break
            time.sleep(0.02)
            continue
        if top < 40:  # sweeps the track, turning short of its ends
            direction = 1
        elif top > rows - length - 40:
            direction = -1
        name = 'a' if direction < 0 else 'z'
        hold = random.uniform(0.02, 0.06)
        t0 = key(name, True)
        released, result = False, 'timeouts'
        while True:
            if not released and time.perf_counter() - t0 >= hold:
                key(name, False)
                released = True
            col = column()
            t1 = time.perf_counter()
            if col != before:
                moved = paddle(col)
                if moved is not None and (moved - top) * direction > 0:
                    result = (t1 - t0) * 1000
                else:
                    result = 'other'
                break
            if t1 - t0 > TIMEOUT:
                break
            time.sleep(0.0005)
        if not released:
            time.sleep(max(0.0, t0 + hold - time.perf_counter()))
            key(name, False)
        if isinstance(result, float):
            out['latencies'].append(round(result, 2))
            in_a_row = 0
        else:
            out[result] += 1
            in_a_row = in_a_row + 1 if result == 'timeouts' else 0
            if in_a_row >= 5:  # five presses in a row moved nothing: the game no longer takes them
                out['stalled'] = True
                break
    print(json.dumps(out))


main()
