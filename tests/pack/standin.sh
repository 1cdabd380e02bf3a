# Sourced by the vexlo-pack tests that run a packed launcher: a stand-in Java runtime in a jre folder beside
# it, and a -run under Wine whose virtual machine records what it was given.
# run_standin BIN_DIR EXE WORK: copies EXE into WORK/app with a stand-in runtime, runs it with -run and leaves
# the record in WORK/record.txt (CR LF lines) and the output in WORK/run.out; the launcher's exit code.
run_standin() {
  local bin="$1" exe="$2" work="$3" app="$3/app"
  rm -rf "$app" "$work/record.txt" && mkdir -p "$app/jre/bin/server"
  cp "$exe" "$app/launcher.exe"
  printf 'PK application' >"$app/hello-service.jar"
  cp "$bin/standin_java.exe" "$app/jre/bin/java.exe"
  printf 'java version "17.0.2"\r\n' >"$app/jre/bin/version.txt"
  cp "$bin/standin_jvm.dll" "$app/jre/bin/server/jvm.dll"
  # Wine gives the launcher the prefix's own TEMP: its private folder there is removed afterwards.
  (cd "$app" && JAVA_HOME= VEXLO_STANDIN_JVM_RECORD="Z:${work//\//\\}\\record.txt" timeout 60 wine launcher.exe -run) \
    >"$work/run.out" 2>&1
  local rc=$? temp
  temp="$(recorded "$work" "option|-Dvexlo.tempDir=")"
  [ -n "$temp" ] && temp="$(winepath -u "$temp" 2>/dev/null)"
  case "$temp" in "$WINEPREFIX"/drive_c/users/*/Temp/?*) rm -rf "$temp" ;; esac
  return "$rc"
}
# recorded WORK PREFIX: the record lines that begin with PREFIX, without it and without the CR.
recorded() { grep -a "^$2" "$1/record.txt" 2>/dev/null | tr -d '\r' | cut -c$((${#2} + 1))-; }
