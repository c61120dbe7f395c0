#!/usr/bin/env python3
"""Writes block_reference_values.txt: the exact sections a filter block must produce for every
model and slope, computed independently of the C++ code with plain Python 3 (math for the
trigonometry, struct for the 32-bit float working copies; the parametric section comes from
make_reference.py beside it). Run from this folder:

    python3 make_block_reference.py > block_reference_values.txt

Line format: block MODEL SLOPE F G Q S B SR SECTIONS, then b0 b1 b2 a1 a2 of each section.
"""
import math

from make_reference import f32, parametric

PI = 3.141592653589793
TWO_PI = 6.283185307179586

BUTTERWORTH_THETA = {
    2: [PI / 4],
    4: [3 * PI / 8, PI / 8],
    6: [5 * PI / 12, PI / 4, PI / 12],
    8: [7 * PI / 16, 5 * PI / 16, 3 * PI / 16, PI / 16],
}
# (A, B) per section, N low-pass, N high-pass.
BESSEL = {
    2: ([(0.618034, 1.361654)], 1.447, 0.69),
    4: ([(0.388991, 0.774254), (0.488904, 1.339664)], 1.36, 0.734),
    6: ([(0.275641, 0.513054), (0.350473, 0.968607), (0.388718, 1.221734)], 1.374, 0.727),
    8: ([(0.208745, 0.372765), (0.262125, 0.720236), (0.297924, 0.975366),
         (0.316161, 1.11125)], 1.388, 0.719),
}
ORDER = {"FBSlope06": 1, "FBSlope12": 2, "FBSlope24": 4, "FBSlope36": 6, "FBSlope48": 8}


def second_order(d, w, high):
    beta = 0.5 * (1 - (d / 2) * math.sin(w)) / (1 + (d / 2) * math.sin(w))
    gamma = (0.5 + beta) * math.cos(w)
    alpha = (0.5 + beta + gamma) / 4 if high else (0.5 + beta - gamma) / 4
    return (2 * alpha, -4 * alpha if high else 4 * alpha, 2 * alpha, -2 * gamma, 2 * beta)


def butterworth(order, f, sr, high):
    w = TWO_PI * f / sr
    if order == 1:
        den = w + 2
        b0 = 2 / den if high else w / den
        b1 = -2 / den if high else w / den
        return [(b0, b1, 0.0, (w - 2) / den, 0.0)]
    return [second_order(2 * math.sin(t), w, high) for t in BUTTERWORTH_THETA[order]]


def linkwitz(f, sr, high):
    s = second_order(2 * math.sin(PI / 4), TWO_PI * f / sr, high)
    return [s, s]


def bessel(order, f, sr, high):
    pairs, n_low, n_high = BESSEL[order]
    p = (f / (n_high if high else n_low)) * PI / sr
    out = []
    for a, b in pairs:
        if high:
            d = 1 / (a * p * p + b * p + 1)
            out.append((d, -2 * d, d, 2 * (a * p * p - 1) * d, (a * p * p - b * p + 1) * d))
        else:
            d = 1 / (p * p + b * p + a)
            b0 = p * p * d
            out.append((b0, 2 * b0, b0, 2 * (p * p - a) * d, (p * p - b * p + a) * d))
    return out


def shelf(f, g, s, sr, high):
    a = 10.0 ** (0.025 * g)
    w = TWO_PI * f / sr
    c = math.cos(w)
    alpha = (math.sin(w) / 2) * math.sqrt((a + 1 / a) * (1 / s - 1) + 2)
    h = 2 * math.sqrt(a) * alpha
    if high:
        a0 = (a + 1) - (a - 1) * c + h
        return [(a * ((a + 1) + (a - 1) * c + h) / a0, -2 * a * ((a - 1) + (a + 1) * c) / a0,
                 a * ((a + 1) + (a - 1) * c - h) / a0, 2 * ((a - 1) - (a + 1) * c) / a0,
                 ((a + 1) - (a - 1) * c - h) / a0)]
    a0 = (a + 1) + (a - 1) * c + h
    return [(a * ((a + 1) - (a - 1) * c + h) / a0, 2 * a * ((a - 1) - (a + 1) * c) / a0,
             a * ((a + 1) - (a - 1) * c - h) / a0, -2 * ((a - 1) + (a + 1) * c) / a0,
             ((a + 1) + (a - 1) * c - h) / a0)]


def all_pass(f, b, sr):
    t = math.tan(PI * b / sr)
    c = (t - 1) / (t + 1)
    b1 = -(1 - c) * math.cos(TWO_PI * f / sr)
    return [(-c, b1, 1.0, b1, -c)]


def sections(model, slope, f, g, q, s, b, sr):
    order = ORDER[slope]
    if model in ("FBMButt_LPF", "FBMButt_HPF"):
        return butterworth(order, f, sr, model.endswith("HPF"))
    if model in ("FBMLnkR_LPF", "FBMLnkR_HPF"):
        return linkwitz(f, sr, model.endswith("HPF"))
    if model in ("FBMBess_LPF", "FBMBess_HPF"):
        return bessel(order, f, sr, model.endswith("HPF"))
    if model in ("FBMShlv_LPF", "FBMShlv_HPF"):
        return shelf(f, g, s, sr, model.endswith("HPF"))
    if model == "FBMPara":
        return [parametric(f, g, q, sr)]
    if model == "FBMAllp":
        return [all_pass(f, b, sr)[0]]
    raise ValueError(model)


def cases():
    for model in ("FBMButt_LPF", "FBMButt_HPF"):
        for slope in ORDER:
            for f in (120, 2500):
                yield model, slope, f, 0, 0.5, 0.5, 0.0
    for model in ("FBMLnkR_LPF", "FBMLnkR_HPF"):
        for f in (120, 2500):
            yield model, "FBSlope24", f, 0, 0.5, 0.5, 0.0
    for model in ("FBMBess_LPF", "FBMBess_HPF"):
        for slope in ("FBSlope12", "FBSlope24", "FBSlope36", "FBSlope48"):
            for f in (120, 2500):
                yield model, slope, f, 0, 0.5, 0.5, 0.0
    for model, f in (("FBMShlv_LPF", 200), ("FBMShlv_HPF", 6000)):
        for g in (-9, 6):
            for s in (0.5, 0.8):
                yield model, "FBSlope06", f, g, 0.5, s, 0.0
    for g, q in ((-6, 0.7), (9, 4.0)):
        yield "FBMPara", "FBSlope06", 1000, g, q, 0.5, 0.0
    for f in (1000, 6000):
        for b in (300, 2000):
            yield "FBMAllp", "FBSlope06", f, 0, 0.5, 0.5, b


def main():
    sr = 48000
    print("# block MODEL SLOPE F G Q S B SR SECTIONS, then b0 b1 b2 a1 a2 per section")
    for model, slope, f, g, q, s, b in cases():
        # The block computes from float working copies of its properties.
        q32, s32, b32 = f32(q), f32(s), f32(b)
        secs = sections(model, slope, float(f), float(g), q32, s32, b32, float(sr))
        for sec in secs:
            assert all(-2 < v < 2 for v in sec), (model, slope, f, sec)
        words = " ".join("%.17g" % v for sec in secs for v in sec)
        print("block", model, slope, f, g, "%.9g" % q32, "%.9g" % s32, "%.9g" % b32, sr,
              len(secs), words)


if __name__ == "__main__":
    main()
