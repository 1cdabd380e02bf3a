#!/usr/bin/env python3
"""Lists the includes between subsystem folders of src/ and reports those that run against the layering:
a file including a header of a higher layer, folders that include each other (directly or round a longer
loop), and groups of files that include each other (a file's group is its folder and base name, so Foo.h
and Foo.cpp are one). Exits 1 when it finds any. An argument names another source tree (for its own test)."""
import os
import re
import sys

# Bottom to top; folders of one layer may include each other's headers.
LAYERS = [
    ["common"],
    ["log"],
    ["process"],
    ["config"],
    ["paths"],
    ["extract", "instance", "service"],
    ["jvm"],
    ["launch"],
    ["launcher"],
]
# The log asks the paths for its directory, through one narrow header.
EXCEPTIONS = {("log/Log.cpp", "paths/LogDirectory.h")}

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
rank = {folder: i for i, layer in enumerate(LAYERS) for folder in layer}
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')

edges = []
for folder in sorted(os.listdir(root)):
    for name in sorted(os.listdir(os.path.join(root, folder))):
        if not name.endswith((".h", ".cpp")):
            continue
        with open(os.path.join(root, folder, name), encoding="utf-8") as f:
            for line in f:
                m = include.match(line)
                if m and "/" in m.group(1):
                    edges.append((f"{folder}/{name}", m.group(1)))

problems = 0
print("includes across subsystem folders:")
for source, header in edges:
    src_folder, dst_folder = source.split("/")[0], header.split("/")[0]
    if src_folder == dst_folder:
        continue
    if src_folder not in rank or dst_folder not in rank:
        mark = "UNKNOWN FOLDER"
    elif rank[dst_folder] > rank[src_folder] and (source, header) not in EXCEPTIONS:
        mark = "UPWARD"
    elif (source, header) in EXCEPTIONS:
        mark = "allowed exception"
    else:
        mark = ""
    if mark and mark != "allowed exception":
        problems += 1
    print(f"  {source} -> {header}" + (f"   [{mark}]" if mark else ""))


def group(path):
    return os.path.splitext(path)[0]


def strongly_connected(graph):
    """The groups of two or more nodes that reach each other (Tarjan)."""
    index, low, stack, on_stack, cycles, counter = {}, {}, [], set(), [], [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                cycles.append(sorted(component))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    return cycles


files, folders = {}, {}
for source, header in edges:
    a, b = group(source), group(header)
    if a != b:
        files.setdefault(a, set()).add(b)
    src_folder, dst_folder = source.split("/")[0], header.split("/")[0]
    if src_folder != dst_folder and (source, header) not in EXCEPTIONS:
        folders.setdefault(src_folder, set()).add(dst_folder)

for cycle in strongly_connected(folders):
    problems += 1
    print("folders that include each other: " + ", ".join(cycle))
for cycle in strongly_connected(files):
    problems += 1
    print("files that include each other: " + ", ".join(cycle))

print(f"{problems} problem(s)")
sys.exit(1 if problems else 0)
