#!/usr/bin/env bash
# The main job, start to end: pack examples/hello-service with vexlo-pack, give it a Java runtime (the host
# JDK behind the jvm.dll bridge), then install, start, query, call, stop and remove it as a Windows service
# under Wine. Each step prints one line with what it did and how long it took; the first failing step says
# where to look and the script exits non-zero.
# BUILD_DIR chooses the build tree (default: build); DEMO_PREBUILT=1 uses that tree as it is (no set-up, no
# build: the end-to-end test runs the demo against the tree it tests); DEMO_DIR chooses the demo's folder with
# its Wine prefix (default: BUILD_DIR/demo); DEMO_KEEP=1 keeps the packed application afterwards.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
demo="${DEMO_DIR:-$build/demo}"
case "$demo" in /*) ;; *) demo="$PWD/$demo" ;; esac
app="$demo/app"
steplog="$demo/step.log"
service="vexlo-hello-demo-$$"
installed=0

# A private Wine prefix: a service only sees WINEDLLPATH (which the bridge needs) when it was set as the
# prefix's wineserver started.
# jvm=n,b: the placeholder jvm.dll loads the bridge (jvm.dll.so) from WINEDLLPATH.
export WINEPREFIX="$demo/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;jvm=n,b"
export WINEDLLPATH="$build/bin/hostjvm/lib" LANG=C.UTF-8
unset LC_ALL LC_CTYPE

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
# Wine gives every program the prefix's own TEMP, so the launcher's log lands in the prefix's Temp folder.
diagnostic_log() { ls -t "$WINEPREFIX"/drive_c/users/*/Temp/qdr_nlog_*.log 2>/dev/null | head -1; }

fail() {
  echo "FAILED: $1"
  echo "  step output: $steplog"
  local log; log="$(diagnostic_log)"
  [ -n "$log" ] && echo "  launcher diagnostic log: $log"
  [ -s "$app/logs/stderr.log" ] && echo "  application's standard error: $app/logs/stderr.log"
  [ -s "$steplog" ] && sed 's/^/  | /' "$steplog" | tail -15
  exit 1
}

# step "what it does" command...: runs the command with its output in the step log.
step() {
  local what="$1"; shift
  local t0; t0="$(now)"
  if "$@" >"$steplog" 2>&1; then
    printf '%-62s %6ss\n' "$what" "$(elapsed "$t0")"
  else
    fail "$what (after $(elapsed "$t0")s)"
  fi
}

cleanup() {
  if [ "$installed" = 1 ]; then
    wine "$app/hello-service.exe" /stop "$service" >/dev/null 2>&1
    wine "$app/hello-service.exe" /uninstall "$service" >/dev/null 2>&1
  fi
  wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1
  [ "${DEMO_KEEP:-0}" = 1 ] || [ "${demo_failed:-0}" = 1 ] || rm -rf "$app"
}
trap 'demo_failed=$?; cleanup' EXIT
# An interrupted demo still stops and removes its service.
trap 'exit 130' INT TERM HUP

# Service commands with the diagnostic log on (the service process itself never sees VEXLO_LOG).
launcher() { VEXLO_LOG=yes wine "$app/hello-service.exe" "$@"; }

free_port() {
  local p
  for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return 0; fi
  done
  return 1
}

http_get() {  # prints the response of GET / on 127.0.0.1:$port, retrying while the service starts
  for _ in $(seq 1 60); do
    if exec 3<>"/dev/tcp/127.0.0.1/$port" 2>/dev/null; then
      printf 'GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
      local reply; reply="$(cat <&3)"; exec 3<&-
      echo "$reply"
      grep -q "^HTTP/1.[01] 200" <<<"$reply"
      return
    fi
    sleep 1
  done
  echo "nothing listens on 127.0.0.1:$port after 60 s"
  return 1
}

wait_for_line() {  # file text seconds
  for _ in $(seq 1 "$3"); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 1
  done
  echo "no line \"$2\" in $1 after $3 s"; [ -f "$1" ] && tail -5 "$1"
  return 1
}

do_build() {
  cmake -S "$root" -B "$build" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build "$build" -j 2 --target vexlo vexlo_pack_native vexlo_runtime_jar hostjvm_bridge hello_service_jar
}

do_pack() {
  rm -rf "$app" && mkdir -p "$app" || return 1
  sed "s/\"8080\"/\"$port\"/" "$root/examples/hello-service/vexlo.toml" >"$demo/vexlo.toml"
  "$build/bin/vexlo-pack" build "$demo/vexlo.toml" -o "$app/hello-service.exe" &&
    cp "$build/examples/hello-service/hello-service.jar" "$app/" &&
    "$build/bin/vexlo-pack" inspect "$app/hello-service.exe" | grep -E '^(name|main_class|search|arguments) '
}

# The runtime home the launcher's search finds first: a jre folder beside the executable, holding the bridge's
# placeholder jvm.dll and a java.exe that answers -version with the host JDK's banner.
do_runtime_home() {
  local home="$build/bin/hostjvm/home"
  if [ ! -f "$home/bin/server/jvm.dll" ] || [ ! -f "$build/bin/hostjvm/lib/jvm.dll.so" ]; then
    echo "the host JVM bridge is not built: expected $home/bin/server/jvm.dll and $build/bin/hostjvm/lib/jvm.dll.so (tests/hostjvm)"
    return 1
  fi
  rm -rf "$app/jre" && cp -r "$home" "$app/jre" && ls "$app/jre/bin" "$app/jre/bin/server"
}

do_prefix() {
  wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1
  if [ ! -f "$WINEPREFIX/system.reg" ]; then xvfb-run -a wineboot -i && wineserver -w || return 1; fi
  wineserver -p && wine cmd /c exit
}

echo "vexlo demo: examples/hello-service as a Windows service (build tree $build, Wine prefix $WINEPREFIX)"
mkdir -p "$demo"
if [ "${DEMO_PREBUILT:-0}" = 1 ]; then
  echo "set-up and build skipped: using the built tree $build"
else
  step "set-up: packages present (scripts/setup.sh)" bash "$root/scripts/setup.sh"
  [ -f "$build/bin/vexlo.exe" ] || echo "building the demo's targets in a fresh tree: about two minutes on two cores"
  step "build: launcher, vexlo-pack, runtime jar, bridge, example" do_build
fi
port="$(free_port)" || fail "no free port found on 127.0.0.1"
step "pack: vexlo-pack build -> $(basename "$app")/hello-service.exe (port $port)" do_pack
step "runtime: host JDK behind the jvm.dll bridge in app/jre" do_runtime_home
step "wine: private prefix with the bridge's WINEDLLPATH" do_prefix
step "/install: service $service" launcher /install "$service"
installed=1
step "/start" launcher /start "$service"
step "/status" launcher /status "$service"
tr -d '\r' <"$steplog" | sed '/^$/d; s/^/    /' 
step "HTTP: GET http://127.0.0.1:$port/ from Linux" http_get
sed -n '/^hello/p' "$steplog" | sed 's/^/    /'
step "output: last lines of app/logs/stdout.log" tail -3 "$app/logs/stdout.log"
sed 's/^/    /' "$steplog"
step "/stop" launcher /stop "$service"
step "shutdown hook: \"stopping\" in app/logs/stdout.log" wait_for_line "$app/logs/stdout.log" '^stopping' 30
grep '^stopping' "$app/logs/stdout.log" | tail -1 | sed 's/^/    /'
step "/uninstall" launcher /uninstall "$service"
installed=0
echo "demo finished"
