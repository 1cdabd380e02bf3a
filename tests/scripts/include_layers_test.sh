#!/usr/bin/env bash
# The include-layering check: the source tree passes, and made-up trees with an upward include or a loop
# between two folders of one layer fail.
set -u
script="$1/scripts/include-layers.py"
failures=0
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT

expect() {  # expect CODE DESCRIPTION [ROOT]
    python3 "$script" ${3:+"$3"} >"$tree/out" 2>&1
    local code=$?
    if [ "$code" != "$1" ]; then
        echo "FAIL: $2: exit $code, expected $1"; cat "$tree/out"; failures=$((failures + 1))
    fi
}

expect 0 "the source tree"

mkdir -p "$tree/up/common" "$tree/up/launcher"
echo '#include "launcher/Entry.h"' >"$tree/up/common/Helper.cpp"
touch "$tree/up/launcher/Entry.h"
expect 1 "an upward include" "$tree/up"

mkdir -p "$tree/loop/extract" "$tree/loop/service"
echo '#include "service/B.h"' >"$tree/loop/extract/A.cpp"
echo '#include "extract/C.h"' >"$tree/loop/service/D.cpp"
touch "$tree/loop/service/B.h" "$tree/loop/extract/C.h"
expect 1 "two folders of one layer that include each other" "$tree/loop"
grep -q "folders that include each other: extract, service" "$tree/out" || { echo "FAIL: loop not named"; failures=$((failures + 1)); }

exit $((failures > 0))
