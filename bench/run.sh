#!/usr/bin/env bash
# Builds the benchmarks and prints one table of what the launcher costs: start-up, stop, memory, size.
# BUILD_DIR chooses the build tree (default: build); RUNS the repetitions of each measurement (default: 11; 5 keeps the whole run to a few minutes).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
runs="${RUNS:-11}"

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2 --target vexlo bench_driver bench_vexlo_map >/dev/null

lines="$(mktemp)"; trap 'rm -f "$lines"' EXIT
bash "$root/scripts/wine-env.sh" "$build" wine "$build/bin/bench_driver.exe" "$runs" | tr -d '\r' | grep -E '^(sample|missing|ratio)\|' >"$lines"
echo "size|size: vexlo.exe file (stripped)|$(stat -c %s "$build/bin/vexlo.exe")|358400" >>"$lines"
python3 "$root/bench/size.py" "$build/bin/vexlo.map" >>"$lines"
python3 "$root/bench/table.py" <"$lines"
