#!/usr/bin/env bash
# Runs a command with the build tree's private Wine prefix, a warm Wine server and a virtual display.
# Usage: wine-env.sh BUILD_DIR COMMAND [ARGS...]
set -euo pipefail
build="$(cd "$1" && pwd)"; shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;jvm=n,b"
export WINEARCH=win64
# jvm=n,b: a real jvm.dll (the stand-in) is loaded as it is; only the bridge's placeholder loads the
# builtin from WINEDLLPATH.
# The host JVM bridge (tests/hostjvm): Wine finds jvm.dll.so here. Services only see it when it is set
# as the prefix's wineserver starts, which happens below.
export WINEDLLPATH="$build/bin/hostjvm/lib${WINEDLLPATH:+:$WINEDLLPATH}"
# Java and Wine need a UTF-8 locale for non-ASCII text (arguments, paths, output).
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *UTF-8* | *utf8* | *UTF8* | *utf-8*) ;;
  *) unset LC_ALL LC_CTYPE; export LANG=C.UTF-8 ;;
esac
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating Wine prefix in $WINEPREFIX"
  xvfb-run -a wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
# Report Windows 10 (our executables carry a manifest that declares it).
if ! grep -q '"Version"="win10"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1 || true
  wineserver -w
fi
# Wine's background processes start with the first program; they are started here, with their output
# detached, so they never hold a test runner's pipes open.
# The runner is spelt out inline: xvfb-run goes through /bin/sh (dash), which drops exported bash functions.
exec xvfb-run -a bash -c 'wineserver -p; wine cmd /c exit >/dev/null 2>&1 </dev/null; "$@"; rc=$?; wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; exit $rc' inner "$@"
