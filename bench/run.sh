#!/usr/bin/env bash
# Builds the benchmarks and prints one table of what the launcher costs: start-up, stop, memory, size.
# BUILD_DIR chooses the build tree (default: build); RUNS the repetitions of each measurement (default: 11).
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
if [ ! -d "$root/tests/hostjvm" ]; then
  for figure in "start: vexlo -run to main, real VM" "start: smallest launcher to main, real VM" \
                "stop: ControlService(STOP) to STOPPED, real VM" "memory: service process, real VM"; do
    echo "missing|$figure|the host JVM bridge (tests/hostjvm) is not on this branch" >>"$lines"
  done
fi
echo "size|size: vexlo.exe file (stripped)|$(stat -c %s "$build/bin/vexlo.exe")" >>"$lines"
python3 "$root/bench/size.py" "$build/bin/vexlo.map" >>"$lines"
python3 "$root/bench/table.py" <"$lines"
