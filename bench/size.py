#!/usr/bin/env python3
"""Sums the linker map's section contributions by where they come from (our objects, each library) and prints
size lines for the largest. Usage: size.py MAP"""
import collections
import re
import sys

origin = collections.Counter()
section = re.compile(r"^ (\.\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)$")
pending = None
for line in open(sys.argv[1], errors="replace"):
    line = line.rstrip("\n")
    if re.match(r"^ \.\S+$", line):  # a long section name puts the numbers on the next line
        pending = line.strip()
        continue
    m = section.match(line)
    if not m or int(m.group(2), 16) == 0:
        pending = None
        continue
    name = m.group(1) or pending
    pending = None
    if not name or name.startswith((".debug", ".comment")):
        continue
    source = m.group(4)
    lib = re.search(r"([^/]+\.a)\(", source)
    key = lib.group(1) if lib else source.rsplit("/", 1)[-1]
    if lib and lib.group(1) == "libvexlo_core.a":
        key = "vexlo_core: " + re.search(r"\(([^)]+)\)", source).group(1).replace(".cpp.obj", "")
    origin[key] += int(m.group(3), 16)

total = sum(origin.values())
print(f"size|size: mapped code and data, all inputs|{total}")
for key, size in origin.most_common(8):
    print(f"size|size part: {key}|{size}")
