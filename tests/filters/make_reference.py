#!/usr/bin/env python3
"""Writes reference_values.txt: expected parametric coefficients and combined magnitude
responses, computed independently of the C++ code with plain Python (complex arithmetic for
the response, struct for the 32-bit float working copies). Run from this folder:

    python3 make_reference.py > reference_values.txt
"""
import cmath
import math
import struct


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def parametric(freq, gain, q, sr=48000):
    f, g, q, sr = f32(freq), f32(gain), f32(q), f32(sr)
    if g == 0.0:
        return (1.0, 0.0, 0.0, 0.0, 0.0)
    a = 10.0 ** (0.05 * g)
    w = 6.283185307179586 * f / sr
    c, s = -math.cos(w), math.sin(w)
    qq = 2.0 * q if g > 0 else 2.0 * q * a
    k = (qq - s) / (qq + s)
    return (((1 + k) + a * (1 - k)) * 0.5, (1 + k) * c,
            ((1 + k) - a * (1 - k)) * 0.5, (1 + k) * c, k)


def magnitude(coef, w):
    b0, b1, b2, a1, a2 = coef
    z1 = cmath.exp(-1j * w)
    z2 = z1 * z1
    return abs((b0 + b1 * z1 + b2 * z2) / (1 + a1 * z1 + a2 * z2))


def response(bands):
    step = math.log10(1600.0) * 0.002
    out = []
    for x in range(1, 501):
        w = 2 * math.pi * 10.0 ** ((x + 200) * step) / 48000.0
        m = 1.0
        for b in bands:
            m *= magnitude(b, w)
        out.append(m)
    return out


GRID_F = [20, 100, 1000, 4000, 12000, 18000]
GRID_G = [-12, -6, -0.5, 0.25, 6, 12]
GRID_Q = [0.2, 0.7, 1.4, 8, 50]

TABLES = {
    "eq10": [(32, 3, 1.8), (63, -4, 1.4), (125, 2.5, 1.4), (250, -6, 1.4), (500, 1, 1.4),
             (1000, 6, 1.4), (2000, -3, 1.4), (4000, 4, 1.4), (8000, -12, 1.8),
             (16000, 5, 3.0)],
    "narrow": [(1000, 12, 50), (40, -12, 0.2), (15000, -9, 8)],
}


def main():
    print("# parametric F G Q -> b0 b1 b2 a1 a2 (sample rate 48000)")
    for f in GRID_F:
        for g in GRID_G:
            for q in GRID_Q:
                c = parametric(f, g, q)
                print("coef", f, g, q, " ".join("%.17g" % v for v in c))
    for name, bands in TABLES.items():
        coefs = [parametric(*b) for b in bands]
        print("table", name, len(bands), " ".join("%g,%g,%g" % b for b in bands))
        for x, m in enumerate(response(coefs), start=1):
            print("resp", name, x, "%.17g" % m)


if __name__ == "__main__":
    main()
