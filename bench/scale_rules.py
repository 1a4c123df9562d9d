#!/usr/bin/env python3
"""Cost and quality of decode-scale rules, from scale_curve's lines.

    bench/scale_rules.py CURVE.tsv [CURVE.tsv ...]

scale_curve (bench/tools/scale_curve.cpp) prints, for every photo, width
and decode scale M/8, the thread CPU time and the SSIM-Y / PSNR-Y of the
thumbnail made at that scale. A rule picks one M for each photo and width;
this prints, per file and width, the CPU time summed over the photos and the
mean SSIM-Y / PSNR-Y of every rule, so that rules compare on the same
photos. "margin k" is the smallest M whose output is at least k times the
width, as the decoder chooses today with k = 5/2.
"""
import collections
import math
import sys

RULES = [
    ("full decode", None),
    ("margin 1", 1.0),
    ("margin 1.25", 1.25),
    ("margin 1.5", 1.5),
    ("margin 2", 2.0),
    ("margin 5/2", 2.5),
    ("margin 3", 3.0),
]


def read(path):
    # (name, target) -> {M: (mode, sampling, cpu, ssim, psnr, margin)}
    table = collections.defaultdict(dict)
    with open(path, encoding="utf-8") as f:
        for line in f:
            (name, _w, _h, mode, samp, target, m, margin, cpu, ssim,
             psnr) = line.rstrip("\n").split("\t")
            table[(name, int(target))][int(m)] = (
                mode, samp, float(cpu), float(ssim), float(psnr),
                float(margin))
    return table


def pick(scales, k):
    if k is None:
        return 8
    for m in sorted(scales):
        if scales[m][5] >= k - 1e-9:
            return m
    return 8 if 8 in scales else max(scales)


def main():
    for path in sys.argv[1:]:
        table = read(path)
        targets = sorted({t for (_, t) in table})
        print(f"# {path}: {len({n for (n, _) in table})} photos")
        print("target\trule\tcpu_ms\tssim_y\tpsnr_y\tscales")
        for target in targets:
            rows = [(n, s) for (n, t), s in sorted(table.items())
                    if t == target]
            for label, k in RULES:
                cpu = ssim = psnr = 0.0
                used = collections.Counter()
                for _, scales in rows:
                    m = pick(scales, k)
                    _, _, c, s, p, _ = scales[m]
                    cpu += c
                    ssim += s
                    psnr += p
                    used[m] += 1
                n = len(rows)
                hist = " ".join(f"{m}/8:{used[m]}" for m in sorted(used))
                print(f"{target}\t{label}\t{cpu:.0f}\t{ssim / n:.4f}\t"
                      f"{psnr / n:.2f}\t{hist}")
        print()


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main()
