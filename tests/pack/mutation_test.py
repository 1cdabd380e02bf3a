#!/usr/bin/env python3
"""Damaged configuration files against the native vexlo-pack: every check and build ends by itself with 0, 1
or 2 (never a signal or a hang), and a build that fails leaves its output path as it was.
Usage: mutation_test.py BIN_DIR SOURCE_DIR [CASES] [SEED]"""
import os
import random
import subprocess
import sys
import tempfile

bin_dir, src_dir = sys.argv[1], sys.argv[2]
cases = int(sys.argv[3]) if len(sys.argv) > 3 else 300
rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 26)
pack = os.path.join(bin_dir, "vexlo-pack")

with open(os.path.join(src_dir, "examples/hello-service/vexlo.toml"), "rb") as f:
    example = f.read()
richer = example + b"""
[runtime]
min_version = "11"
search = ["dir:jre", "env:JAVA_HOME", "path"]
[output]
stdout = 'logs\\all.log'
[[files]]
source = "data.txt"
name = 'conf\\data.txt'
[messages]
no_jvm_found = "none"
[languages.de]
no_jvm_found = "keine"
[raw]
10001 = "x"
"""
# Pieces that reach the parser's and the tool's corners: nesting, dotted runs, escapes, odd names.
pieces = [b"[", b"]", b"{", b"}", b".", b"=", b'"', b"'", b'"""', b"'''", b"\\", b"\n", b"#", b",", b"\x00",
          b"\xff\xfe", b"\\u0000", b"a." * 40, b"[" * 300, b"{a=" * 300, b"\n" + b"a." * 300000 + b"a = 1\n",
          b"\n[" + b"a." * 30000 + b"a]\n", b"1e99999", b"-0x",
          b"name = 'CON'", b"name = '..\\\\up'", b"source = '/'", b"[[files]]\nsource = 'data.txt'\n",
          b"[application]\n", b"main_class = 1\n", b"\xe2\x80\xae", b"\t" * 100]


def mutate(data):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        kind = rng.randrange(5)
        at = rng.randint(0, len(data))
        if kind == 0 and data:  # flip a byte
            data[min(at, len(data) - 1)] ^= 1 << rng.randrange(8)
        elif kind == 1:  # cut a stretch out
            del data[at:at + rng.randint(1, 40)]
        elif kind == 2:  # insert a piece
            data[at:at] = rng.choice(pieces)
        elif kind == 3:  # repeat a stretch
            data[at:at] = data[at:at + rng.randint(1, 30)] * rng.randint(2, 50)
        else:  # end early
            del data[at:]
    return bytes(data)


def content(path):
    return open(path, "rb").read() if os.path.isfile(path) else None


def run(args):
    try:
        return subprocess.run(args, capture_output=True, timeout=20)
    except subprocess.TimeoutExpired:
        return None


failures = []
exits = {}
with tempfile.TemporaryDirectory() as work:
    jar = os.path.join(work, "vexlo-runtime.jar")
    open(jar, "wb").write(b"JAR")
    open(os.path.join(work, "data.txt"), "wb").write(b"data")
    good = os.path.join(bin_dir, "vexlo.exe")
    image = open(good, "rb").read()
    templates = {"good": good, "cut": os.path.join(work, "cut.exe"), "text": os.path.join(work, "text.exe"),
                 "missing": os.path.join(work, "missing.exe")}
    open(templates["cut"], "wb").write(image[:300])
    open(templates["text"], "wb").write(b"not an image")
    toml = os.path.join(work, "case.toml")
    files = os.path.join(work, "files")
    before = b"the output from before"
    fixed = set(os.listdir(work)) | {"case.toml", "out.exe", "folder"}
    for case in range(cases):
        text = mutate(rng.choice([example, richer]))
        open(toml, "wb").write(text)
        build = case % 3 == 0
        if build:
            out = rng.choice(["out.exe", "out.exe", "out.exe", "case.toml", "folder"])
            templ = rng.choice(["good", "good", "good", "cut", "text", "missing"])
            target = os.path.join(work, out)
            if out == "out.exe":
                open(target, "wb").write(before)
            elif out == "folder":
                os.makedirs(target, exist_ok=True)
            args = [pack, "build", toml, "-o", target, "--template", templates[templ], "--runtime-jar", jar]
        else:
            args = [pack, "check", toml, "--runtime-jar", jar]
        result = run(args)
        if result is None:
            failures.append((case, "timed out", text))
            continue
        code = result.returncode
        exits[code] = exits.get(code, 0) + 1
        if code not in (0, 1, 2):
            failures.append((case, "exit code %d" % code, text))
        elif code == 1 and not result.stderr.strip():
            failures.append((case, "exit code 1 without a message", text))
        if not build or code not in (0, 1, 2):
            continue
        if out == "case.toml" and (code == 0 or content(toml) != text):
            failures.append((case, "the build wrote over its input", text))
        elif out == "folder" and (code == 0 or not os.path.isdir(target)):
            failures.append((case, "the build did not keep the folder it was given", text))
        elif out == "out.exe" and code != 0 and content(target) != before:
            failures.append((case, "a failed build changed its output", text))
        elif out == "out.exe" and code == 0:
            if (content(target) or b"")[:2] != b"MZ":
                failures.append((case, "a good build wrote no launcher", text))
            # What build accepted, inspect writes below its folder and nowhere else.
            shown = run([pack, "inspect", "--files", files, target])
            if shown is None or shown.returncode not in (0, 1, 2):
                failures.append((case, "inspect of the launcher ended badly", text))
        leftovers = set(os.listdir(work)) - fixed - {"files"}
        if leftovers:
            failures.append((case, "left behind: %s" % sorted(leftovers), text))
            for name in leftovers:
                os.remove(os.path.join(work, name))

for case, what, text in failures[:10]:
    print("FAIL case %d: %s; input starts %r" % (case, what, text[:200]))
print("vexlo-pack mutations: %d cases, exit codes %s, %d failures" % (cases, sorted(exits.items()), len(failures)))
sys.exit(1 if failures else 0)
