#!/usr/bin/env python3
"""Reads the benchmark lines on standard input and prints one table: median, min, max and runs per figure,
then the ratios of medians. Lines: sample|figure|unit|v1,v2,...  missing|figure|reason
ratio|name|figure a|figure b|target  size|figure|bytes[|target]. A target is the largest value wanted."""
import statistics
import sys

rows, ratios, medians = [], [], {}
for line in sys.stdin:
    parts = line.rstrip("\r\n").split("|")
    kind = parts[0]
    if kind == "sample":
        _, figure, unit, values = parts
        numbers = [float(v) for v in values.split(",") if v]
        if not numbers:
            rows.append((figure, "not measured: no run recorded a value", "", "", "", ""))
            continue
        medians[figure] = statistics.median(numbers)
        rows.append((figure, f"{medians[figure]:.1f}", f"{min(numbers):.1f}", f"{max(numbers):.1f}",
                     str(len(numbers)), unit))
    elif kind == "size":
        target = f", target at most {parts[3]}" if len(parts) > 3 else ""
        rows.append((parts[1], parts[2], "", "", "1", "bytes" + target))
    elif kind == "missing":
        rows.append((parts[1], "not measured: " + parts[2], "", "", "", ""))
    elif kind == "ratio":
        ratios.append(parts[1:])

for name, a, b, target in ratios:
    if a in medians and b in medians and medians[b] > 0:
        rows.append((name, f"{medians[a] / medians[b]:.2f}", "", "", "", "ratio of medians" + (f", target at most {target}" if target != "-" else "")))
    else:
        rows.append((name, "not measured: a figure is missing", "", "", "", ""))

head = ("figure", "median", "min", "max", "runs", "unit")
width = [max(len(r[i]) for r in rows + [head]) for i in range(6)]
for r in [head, tuple("-" * w for w in width)] + rows:
    print("| " + " | ".join(c.ljust(w) for c, w in zip(r, width)) + " |")
