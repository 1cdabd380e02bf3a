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

# A failed test runs once more; the last lines name every test that needed it, and the exit code stays ctest's.
output="$(mktemp)"; trap 'rm -f "$output"' EXIT
set +e
bash "$root/scripts/wine-env.sh" "$build" ctest --test-dir "$build" --output-on-failure -j 2 --repeat until-pass:2 "$@" \
  | tee "$output"
status=${PIPESTATUS[0]}
set -e
# Skipped tests are marked "***Skipped" in the same place; they never run a second time.
retried="$(sed -nE 's/^.*Test +#[0-9]+: ([^ ]+) \.*\*\*\*(Failed|Exception|Timeout|Not Run).*$/\1/p' "$output" | sort -u)"
if [ -z "$retried" ]; then
  echo "No test needed a second run."
else
  echo "Tests that ran a second time:"
  for name in $retried; do
    if grep -F -- " - $name (" "$output" | grep -qv "(Skipped)"; then echo "  $name (failed again)"; else echo "  $name (passed)"; fi
  done
fi
exit "$status"
