#!/usr/bin/env bash
# Installs what is missing, builds vexlo for Windows and runs every test under Wine and a virtual display.
# BUILD_DIR chooses the build tree (default: build); extra arguments go to ctest (e.g. -R e2e).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"
exec bash "$root/scripts/wine-env.sh" "$build" ctest --test-dir "$build" --output-on-failure -j 2 --repeat until-pass:2 "$@"
