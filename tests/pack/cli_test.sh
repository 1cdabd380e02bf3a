#!/usr/bin/env bash
# The native vexlo-pack as a build server runs it: exit codes, messages, build -> inspect -> build giving the
# same launcher byte for byte, and the README's key reference matching the tool's own table.
# Usage: cli_test.sh BIN_DIR SOURCE_DIR
set -uo pipefail
bin="$1"; src="$2"
pack="$bin/vexlo-pack"
source "$(dirname "${BASH_SOURCE[0]}")/testlib.sh"

printf 'JAR' >"$work/vexlo-runtime.jar"
cp "$src/examples/hello-service/vexlo.toml" "$work/vexlo.toml"

expect_rc 2 "no command" "$pack"
expect_rc 2 "unknown option" "$pack" build "$work/vexlo.toml" --frobnicate
expect_rc 2 "two files" "$pack" check "$work/vexlo.toml" "$work/vexlo.toml"
expect_rc 0 "check of the example" "$pack" check "$work/vexlo.toml" --runtime-jar "$work/vexlo-runtime.jar"

printf '[application]\nmain_class = 1\n' >"$work/bad.toml"
expect_rc 1 "check of a bad file" "$pack" check "$work/bad.toml" --runtime-jar "$work/vexlo-runtime.jar"
grep -q "bad.toml:2:14: error: application.main_class: expected a string" "$work/err" || fail "message: $(cat "$work/err")"
expect_rc 1 "build of a bad file" "$pack" build "$work/bad.toml" -o "$work/bad.exe" --runtime-jar "$work/vexlo-runtime.jar"
[ ! -e "$work/bad.exe" ] || fail "an invalid file still wrote a launcher"
expect_rc 1 "missing template" "$pack" build "$work/vexlo.toml" -o "$work/x.exe" --template "$work/none.exe" \
  --runtime-jar "$work/vexlo-runtime.jar"
[ ! -e "$work/x.exe" ] || fail "a failed build left its output"

# A Windows path in double quotes: "\t" became a TAB (warning with its place, exit 0); "\c" is no escape at all.
printf '[application]\nmain_class = "a"\nvm_options = ["-Xmx1g",\n  "-Dhome=C:\\tools", '"'"'-Dother=C:\\tools'"'"']\n' >"$work/tab.toml"
expect_rc 0 "check with a TAB in a path" "$pack" check "$work/tab.toml" --runtime-jar "$work/vexlo-runtime.jar"
grep -qF "tab.toml:4:3: warning: application.vm_options[1]: holds a TAB" "$work/err" && grep -qF "'-Dhome=C:\tools'?" "$work/err" &&
  [ "$(grep -c warning "$work/err")" -eq 1 ] || fail "TAB warning: $(cat "$work/err")"
printf '[application]\nmain_class = "a"\nworking_directory = "C:\\conf"\n' >"$work/esc.toml"
expect_rc 1 "check with an unknown escape" "$pack" check "$work/esc.toml" --runtime-jar "$work/vexlo-runtime.jar"
grep -qF "esc.toml:3:" "$work/err" && grep -qF "single-quoted string 'C:\conf'?" "$work/err" || fail "escape hint: $(cat "$work/err")"

# The runtime jar beside the tool is the default; the output defaults to the service name.
cp "$bin/vexlo.exe" "$work/vexlo.exe"; cp "$pack" "$work/vexlo-pack"
(cd "$work" && ./vexlo-pack build vexlo.toml >"$work/summary") || fail "build with the defaults beside the tool"
[ -f "$work/hello-service.exe" ] || fail "no hello-service.exe from the service name"
# The summary: output and size, service name, search, included files with sizes; --quiet prints nothing.
for want in '^wrote hello-service.exe ([0-9]* KiB)$' '^  service name: *hello-service$' \
            '^  runtime search: \["dir:jre", "env:JAVA_HOME", "registry", "path"\]$' '^  included files: vexlo-runtime.jar (3 bytes)$'; do
  grep -q "$want" "$work/summary" || fail "build summary lacks $want: $(cat "$work/summary")"
done
expect_rc 0 "build --quiet" "$pack" build "$work/vexlo.toml" -o "$work/quiet.exe" --template "$bin/vexlo.exe" \
  --runtime-jar "$work/vexlo-runtime.jar" --quiet
[ ! -s "$work/out" ] || fail "--quiet printed: $(cat "$work/out")"

expect_rc 0 "inspect" "$pack" inspect --files "$work/files" "$work/hello-service.exe"
cp "$work/out" "$work/inspected.toml"
[ ! -s "$work/err" ] || fail "inspect has notes: $(cat "$work/err")"
grep -q '^main_class = "com.example.hello.HelloService"$' "$work/inspected.toml" || fail "inspect output lacks the main class"
cmp -s "$work/files/vexlo-runtime.jar" "$work/vexlo-runtime.jar" || fail "inspect did not write the runtime jar"
expect_rc 0 "rebuild from inspect" "$pack" build "$work/inspected.toml" -o "$work/again.exe" --template "$bin/vexlo.exe"
cmp -s "$work/hello-service.exe" "$work/again.exe" || fail "build -> inspect -> build changed the launcher"
expect_rc 0 "inspect --ids" "$pack" inspect --ids "$work/hello-service.exe"
grep -q '^122 = "com.example.hello.HelloService"$' "$work/out" || fail "--ids lacks id 122: $(head -3 "$work/out")"
grep -q '^message 20017 = ' "$work/out" || fail "--ids lacks the description"
expect_rc 1 "inspect of the bare launcher" "$pack" inspect "$bin/vexlo.exe"

# Included-file names that the launcher would refuse are refused here, at the place of the name.
printf 'data' >"$work/f.txt"
app=$'[application]\nmain_class = "M"\n'
i=0
for name in CON aux.txt nul.dat com1 '..\\up.txt' '. .' 'a\u0001b' "$(printf 'n%.0s' $(seq 300))" ''; do
  i=$((i + 1))
  printf '%s[[files]]\nsource = "f.txt"\nname = "%s"\n' "$app" "$name" >"$work/name$i.toml"
  expect_rc 1 "included file named '$name'" "$pack" check "$work/name$i.toml" --runtime-jar "$work/vexlo-runtime.jar"
  grep -q "name$i.toml:5:8: error: files.name: refused" "$work/err" || fail "name '$name': $(cat "$work/err")"
done
grep -q "the name is empty" "$work/err" || fail "the empty name's message: $(cat "$work/err")"

# inspect --files writes below DIR or nowhere, whatever name the launcher carries.
printf '%s[[files]]\nsource = "f.txt"\nname = "xx\\\\up.txt"\n' "$app" >"$work/up.toml"
expect_rc 0 "build with a name in a folder" "$pack" build "$work/up.toml" -o "$work/up.exe" --template "$bin/vexlo.exe" \
  --runtime-jar "$work/vexlo-runtime.jar"
sed -i 's/xx\\up\.txt/..\\up.txt/' "$work/up.exe"
grep -qa '\.\.\\up\.txt' "$work/up.exe" || fail "the launcher could not be given a climbing name"
mkdir -p "$work/in/dir"
expect_rc 1 "inspect of a climbing name" "$pack" inspect --files "$work/in/dir" "$work/up.exe"
[ ! -e "$work/in/up.txt" ] && [ -z "$(ls -A "$work/in/dir")" ] || fail "inspect wrote files for a climbing name"

# Keys nested beyond reason and oversized files are refused before parsing, with their place.
{ printf '%s  ' "$app"; yes a. | head -n 300000 | tr -d '\n'; printf 'a = 1\n'; } >"$work/deep.toml"
expect_rc 1 "a key of 300000 parts" "$pack" check "$work/deep.toml" --runtime-jar "$work/vexlo-runtime.jar"
grep -q "deep.toml:3:3: error: " "$work/err" || fail "deep key message: $(head -c 300 "$work/err")"
{ printf '%s[' "$app"; yes a. | head -n 30000 | tr -d '\n'; printf 'a]\n'; } >"$work/deep-table.toml"
expect_rc 1 "a table header of 30000 parts" "$pack" check "$work/deep-table.toml" --runtime-jar "$work/vexlo-runtime.jar"
grep -q "deep-table.toml:3:2: error: " "$work/err" || fail "deep table message: $(head -c 300 "$work/err")"
{ printf '%s' "$app"; yes '# padding padding padding padding padding padding' | head -n 25000; } >"$work/big.toml"
expect_rc 1 "a file over 1 MB" "$pack" check "$work/big.toml" --runtime-jar "$work/vexlo-runtime.jar"
grep -q "big.toml:1:1: error: " "$work/err" || fail "big file message: $(cat "$work/err")"
objdump="$(command -v x86_64-w64-mingw32-objdump)"
if [ -n "$objdump" ]; then
  stack=$("$objdump" -p "$bin/vexlo-pack.exe" | awk '/SizeOfStackReserve/ {print $2}')
  [ $((16#$stack)) -ge $((8 * 1024 * 1024)) ] || fail "vexlo-pack.exe reserves a stack of only 0x$stack bytes"
fi

# A failed build leaves the output path as it was; a good one leaves nothing beside its output.
mkdir "$work/outdir" "$work/outdir/folder"
printf 'keep' >"$work/outdir/keep.exe"; printf 'no image' >"$work/notpe.exe"; cp "$work/vexlo.toml" "$work/outdir/self.toml"
for templ in "$work/none.exe" "$work/notpe.exe"; do
  expect_rc 1 "template $templ" "$pack" build "$work/vexlo.toml" -o "$work/outdir/keep.exe" --template "$templ" \
    --runtime-jar "$work/vexlo-runtime.jar"
  [ "$(cat "$work/outdir/keep.exe")" = keep ] || fail "a failed build with $templ changed the existing output"
done
expect_rc 1 "output is a folder" "$pack" build "$work/vexlo.toml" -o "$work/outdir/folder" --template "$bin/vexlo.exe" \
  --runtime-jar "$work/vexlo-runtime.jar"
[ -d "$work/outdir/folder" ] || fail "a failed build removed the folder it was given as output"
expect_rc 1 "output is the input" "$pack" build "$work/outdir/self.toml" -o "$work/outdir/self.toml" \
  --template "$bin/vexlo.exe" --runtime-jar "$work/vexlo-runtime.jar"
cmp -s "$work/outdir/self.toml" "$work/vexlo.toml" || fail "the build overwrote its own input"
expect_rc 0 "build over an existing output" "$pack" build "$work/vexlo.toml" -o "$work/outdir/keep.exe" \
  --template "$bin/vexlo.exe" --runtime-jar "$work/vexlo-runtime.jar"
[ "$(ls -A "$work/outdir" | tr '\n' ' ')" = "folder keep.exe self.toml " ] || fail "left beside the output: $(ls -A "$work/outdir")"
cmp -s "$work/outdir/keep.exe" "$work/hello-service.exe" || fail "the build did not replace the existing output"

# The README's reference section is the tool's table, not a second copy of it.
"$pack" keys >"$work/keys.md"
awk '/<!-- keys:begin -->/{on=1; next} /<!-- keys:end -->/{on=0} on' "$src/README.md" >"$work/readme-keys.md"
diff -u "$work/keys.md" "$work/readme-keys.md" >"$work/diff" || fail "README key reference is stale (scripts/readme-keys.sh): $(head -20 "$work/diff")"

[ "$failures" -eq 0 ] && echo "vexlo-pack CLI: all checks passed"
exit "$failures"
