#!/bin/sh
# Runs one Windows test program under Wine for ctest. Wine gives every process the program starts the
# program's own Unix standard error, whatever Windows handles it passes; a child that outlives the program
# would hold ctest's pipe open and ctest would wait for it until the time-out. So the program's standard error
# goes to a file, copied out once the program has ended (standard output stays live: children get their own).
err="$(mktemp)" || exit 1
wine "$@" 2>"$err"
rc=$?
cat "$err" >&2
rm -f "$err"
exit $rc
