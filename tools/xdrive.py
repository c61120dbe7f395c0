#!/usr/bin/env python3
"""Drives an X display the way an operator would (pointer moves, clicks, drags through the XTEST
extension) and saves parts of the screen as PNG, for the screenshots in docs/.

  xdrive.py move X Y | click X Y [BUTTON] | drag X1 Y1 X2 Y2
  xdrive.py grab FILE.png X Y W H [X Y W H ...]   (several areas are stacked, left-aligned)
"""
import ctypes
import struct
import sys
import time
import zlib

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                          ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XGetPixel.restype = ctypes.c_ulong
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("xdrive: no display")


def move(x, y):
    xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
    x11.XSync(display, 0)


def button(b, down):
    xtst.XTestFakeButtonEvent(display, b, 1 if down else 0, 0)
    x11.XSync(display, 0)


def click(x, y, b=1):
    move(x, y)
    time.sleep(0.05)
    button(b, True)
    time.sleep(0.05)
    button(b, False)


def drag(x1, y1, x2, y2):
    move(x1, y1)
    button(1, True)
    steps = 20
    for i in range(1, steps + 1):
        time.sleep(0.02)
        move(x1 + (x2 - x1) * i // steps, y1 + (y2 - y1) * i // steps)
    button(1, False)


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


def area(x, y, w, h):
    """The rows of one screen area as RGB bytes."""
    root = x11.XDefaultRootWindow(display)
    image = ctypes.cast(x11.XGetImage(display, root, x, y, w, h, 0xFFFFFFFF, 2),
                        ctypes.POINTER(XImage)).contents
    if image.bits_per_pixel != 32:
        sys.exit("xdrive: only 32-bit screens")
    raw = ctypes.string_at(image.data, image.bytes_per_line * h)
    rows = []
    for row in range(h):
        line = raw[row * image.bytes_per_line:row * image.bytes_per_line + 4 * w]
        rgb = bytearray(3 * w)
        rgb[0::3] = line[2::4]
        rgb[1::3] = line[1::4]
        rgb[2::3] = line[0::4]
        rows.append(bytes(rgb))
    return rows


def grab(path, areas):
    width = max(a[2] for a in areas)
    rows = []
    for a in areas:
        rows += [b"\0" + r + bytes(3 * (width - a[2])) for r in area(*a)]
    h, w = len(rows), width

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(b"".join(rows), 9)))
        out.write(chunk(b"IEND", b""))


command, args = sys.argv[1], sys.argv[2:]
if command == "move":
    move(int(args[0]), int(args[1]))
elif command == "click":
    click(int(args[0]), int(args[1]), int(args[2]) if len(args) > 2 else 1)
elif command == "drag":
    drag(*map(int, args))
elif command == "grab":
    numbers = list(map(int, args[1:]))
    grab(args[0], [numbers[i:i + 4] for i in range(0, len(numbers), 4)])
else:
    sys.exit(__doc__)
