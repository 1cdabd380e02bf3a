#!/usr/bin/env bash
# The JSON Schema of vexlo.toml: the copy in docs equals the tool's output, and a third-party validator (Taplo)
# accepts every example and a file with every section, and rejects a wrong type. Skipped (exit 77) when the
# validator cannot be installed.
# Usage: schema_test.sh BIN_DIR SOURCE_DIR
set -uo pipefail
bin="$1"; src="$2"
pack="$bin/vexlo-pack"
source "$(dirname "${BASH_SOURCE[0]}")/testlib.sh"

"$pack" schema >"$work/schema.json" || fail "vexlo-pack schema"
diff -u "$src/docs/vexlo.schema.json" "$work/schema.json" >"$work/diff" ||
  fail "docs/vexlo.schema.json is stale (vexlo-pack schema >docs/vexlo.schema.json): $(head -20 "$work/diff")"

if ! taplo="$(bash "$src/scripts/install-taplo.sh" 2>"$work/install.err")"; then
  echo "SKIPPED: the validator @taplo/cli could not be installed: $(tail -3 "$work/install.err")"
  [ "$failures" -eq 0 ] && exit 77 || exit "$failures"
fi
validate() { (cd "$work" && "$taplo" check --no-auto-config --schema "file://$work/schema.json" "$@") >"$work/out" 2>&1; }

mkdir -p "$work/conf"; printf 'a=1\n' >"$work/conf/a.properties"; printf 'JAR' >"$work/vexlo-runtime.jar"
cat >"$work/full.toml" <<'TOML'
[service]
name = "full"
description = "Every section"
start = "auto"
dependencies = ["Tcpip"]
display_name = "Full"
account = "virtual"
stop_timeout = "10s"
log = 'logs\full.service.log'
[service.recovery]
on_failure = ["restart 10s", "none"]
reset_after = "1d"
[service.environment]
APP_HOME = '${VEXLO_EXEDIR}'
[application]
main_class = "org.demo/org.demo.Main"
module_mode = true
runtime_jar = "vexlo-runtime.jar"
class_path = [{ jar = 'lib\a.jar', mandatory = true }, { dir = 'classes' }, { scan = 'lib' }, { env = 'CP' }]
module_path = [{ dir = 'mods' }]
arguments = ["--port", "8080"]
vm_options = ['-Dhome=${VEXLO_EXEDIR}conf']
vm_options_file = true
j_options = true
version_options = [{ versions = "11-17", options = ["-Da"] }, { pattern = "1.8*", options = ["-Db"] }]
working_directory = 'work'
directory = 'app'
[runtime]
min_version = "11"
max_version = "21"
allow_prerelease = true
jdk_required = true
search = ["dir:jre", "dir-fallback:C:\\java", "env:JAVA_HOME", "registry", "installations", "path"]
accept_failing_directories = true
skip_registry = false
jvm_subdirectory = "server"
application_id = "demo"
ignore_java_options_env = true
[output]
stdout = 'logs\out.log'
stderr = ""
append = false
rotate = "daily"
max_size = "10MB"
keep = 7
[native]
library_directories = ['lib\native']
add_dll_directories = true
reduce_path = true
[instance]
single = true
bring_to_front = true
machine_wide = true
session_wide = false
[messages]
error_title = "Demo"
no_jvm_found = "No Java"
4242 = "by number"
[[files]]
source = 'conf/a.properties'
name = 'conf\a.properties'
[languages.de]
error_title = "Demo"
1016 = "Kein Java"
[raw]
10009 = "1"
TOML
"$pack" check "$work/full.toml" >"$work/out" 2>&1 || fail "vexlo-pack rejects the full file: $(cat "$work/out")"
# One run of the validator for the good files and one for the bad ones (each run starts a WebAssembly module).
good=(full.toml)
for example in $(cd "$src" && git ls-files '*.toml' 2>/dev/null || find examples -name '*.toml'); do
  good+=("example-${#good[@]}.toml"); cp "$src/$example" "$work/${good[-1]}"
done
validate "${good[@]}" || fail "Taplo rejects one of full.toml and the examples: $(grep -m5 -i error "$work/out")"
[ "${#good[@]}" -ge 2 ] || fail "no example TOML found"
# Wrong types and unknown keys are rejected, each file on its own.
bad=('[service]\nstart = 3' '[service]\nstart = "sometimes"' '[application]\nclass_path = [{ jar = "a", dir = "b" }]'
     '[runtime]\nsearch = ["jre"]' '[application]\nmain_klass = "x"'
     '[service]\nstop_timeout = "10 s"' '[output]\nkeep = "5"')
for i in "${!bad[@]}"; do printf "${bad[$i]}\n" >"$work/bad$i.toml"; done
validate $(cd "$work" && ls bad*.toml)
for i in "${!bad[@]}"; do
  grep -q "invalid file.*bad$i.toml" "$work/out" || fail "Taplo accepts $(tr '\n' ' ' <"$work/bad$i.toml")"
done
# The example's #:schema line reaches the copy in docs by its relative path.
mkdir -p "$work/tree/docs" "$work/tree/examples/hello-service"
cp "$work/schema.json" "$work/tree/docs/vexlo.schema.json"
{ cat "$src/examples/hello-service/vexlo.toml"; printf '[instance]\nsingle = "yes"\n'; } >"$work/tree/examples/hello-service/vexlo.toml"
(cd "$work/tree/examples/hello-service" && "$taplo" check --no-auto-config vexlo.toml) >"$work/out" 2>&1 &&
  fail "the example's #:schema line does not lead to the schema"

[ "$failures" -eq 0 ] && echo "schema: all checks passed"
exit "$failures"
