#!/usr/bin/env python3
"""Cost and quality of decode-scale rules, from scale_curve's lines.

    bench/scale_rules.py CURVE.tsv [CURVE.tsv ...]

scale_curve (bench/tools/scale_curve.cpp) prints, for every photo, width
and decode scale M/8, the thread CPU time and the SSIM-Y / PSNR-Y of the
thumbnail made at that scale. A rule picks one M for each photo and width;
this prints, per file and width, the CPU time summed over the photos and the
mean SSIM-Y / PSNR-Y of every rule, so that rules compare on the same
photos. "margin k" is the smallest M whose output is at least k times the
width; a "fast" rule rounds it up to 1, 2, 4 or 8, as the decoder does,
and may ask more of a sequential photo before it reads it at 1/8. A rule
that picks a scale the lines leave out (SCALE_CURVE_MAX_M) is not printed,
but a fast rule that would take 8/8 there takes the largest measured (the
same photos for every fast rule).
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

# Rules as the decoder applies them since it reads only 1/8, 2/8, 4/8 and
# 8/8 (a scale between them rounds up to the next): the margin of a
# progressive photo, that of a sequential ("base") one, and what a
# sequential one must keep to be read at 1/8.
FAST_RULES = [
    ("fast 7/4", 1.75, 1.75, 1.75),
    ("fast 7/4, sequential 1/8 at 9/4", 1.75, 1.75, 2.25),
    ("fast 7/4, sequential 9/4", 1.75, 2.25, 2.25),
    ("fast 9/4", 2.25, 2.25, 2.25),
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


def pick_fast(scales, k_progressive, k_sequential, k_sequential_eighth):
    sequential = next(iter(scales.values()))[0] == "base"
    for m in sorted(scales):
        need = k_progressive
        if sequential:
            need = k_sequential_eighth if m == 1 else k_sequential
        if scales[m][5] >= need - 1e-9:
            fast = 1
            while fast < m:
                fast *= 2
            return fast if fast in scales else m
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
            rules = [(label, lambda s, k=k: pick(s, k)) for label, k in RULES]
            rules += [(label, lambda s, ks=ks: pick_fast(s, *ks))
                      for label, *ks in FAST_RULES]
            for label, choose in rules:
                cpu = ssim = psnr = 0.0
                used = collections.Counter()
                for _, scales in rows:
                    m = choose(scales)
                    if m not in scales:
                        break  # SCALE_CURVE_MAX_M left that scale out
                    _, _, c, s, p, _ = scales[m]
                    cpu += c
                    ssim += s
                    psnr += p
                    used[m] += 1
                else:
                    n = len(rows)
                    hist = " ".join(f"{m}/8:{used[m]}" for m in sorted(used))
                    print(f"{target}\t{label}\t{cpu:.0f}\t{ssim / n:.4f}\t"
                          f"{psnr / n:.2f}\t{hist}")
        print()


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main()
