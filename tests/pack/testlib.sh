# Sourced by every vexlo-pack shell test: a private work folder removed on exit, failures counted, and
# expect_rc to check a command's exit code.
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_rc() {  # expected-rc description command...
  local want="$1" what="$2"; shift 2
  "$@" >"$work/out" 2>"$work/err"; local rc=$?
  [ "$rc" -eq "$want" ] || fail "$what: exit code $rc, expected $want ($(head -3 "$work/err"))"
}
