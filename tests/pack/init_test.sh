#!/usr/bin/env bash
# vexlo-pack init: a file written from the example's jar builds a launcher that runs the example (stand-in
# virtual machine under Wine); a modular jar with a manifest class path, a jar without Main-Class, damaged
# jars and an existing output file.
# Usage: init_test.sh BIN_DIR SOURCE_DIR BUILD_DIR   (under scripts/wine-env.sh, as ctest runs it)
set -uo pipefail
bin="$1"; src="$2"; build="$3"
source "$(dirname "${BASH_SOURCE[0]}")/standin.sh"
pack="$bin/vexlo-pack"
source "$(dirname "${BASH_SOURCE[0]}")/testlib.sh"

# The example's own jar: init, build, run.
cp "$build/examples/hello-service/hello-service.jar" "$work/"
expect_rc 0 "init of the example jar" "$pack" init "$work/hello-service.jar" -o "$work/vexlo.toml"
grep -q "^main_class = \"com.example.hello.HelloService\"$" "$work/vexlo.toml" || fail "no main class: $(cat "$work/vexlo.toml")"
expect_rc 0 "build from the written file" "$pack" build "$work/vexlo.toml" -o "$work/hello.exe" \
  --template "$bin/vexlo.exe" --runtime-jar "$bin/vexlo-runtime.jar"
run_standin "$bin" "$work/hello.exe" "$work" || fail "-run ended with $?: $(tail -5 "$work/run.out")"
[ "$(recorded "$work" "main-arg|" | sed -n 2p)" = com.example.hello.HelloService ] || fail "main class not called: $(cat "$work/record.txt")"
recorded "$work" "option|-Djava.class.path=" | grep -qi ';Z:.*\\app\\hello-service.jar$' ||
  fail "the jar is not on the class path: $(recorded "$work" "option|-Djava.class.path=")"

# An existing file is kept unless --force.
printf 'mine\n' >"$work/vexlo.toml"
expect_rc 1 "init over an existing file" "$pack" init "$work/hello-service.jar" -o "$work/vexlo.toml"
grep -q "exists" "$work/err" && [ "$(cat "$work/vexlo.toml")" = mine ] || fail "existing file: $(cat "$work/err")"
expect_rc 0 "init --force" "$pack" init "$work/hello-service.jar" -o "$work/vexlo.toml" --force
grep -q "^main_class" "$work/vexlo.toml" || fail "--force did not overwrite"

# No Main-Class: written, said, exit 0.
cp "$bin/vexlo-runtime.jar" "$work/"
expect_rc 0 "init of a jar without Main-Class" "$pack" init "$work/vexlo-runtime.jar" -o "$work/nomain.toml"
grep -q "fill in main_class" "$work/err" && grep -q '^main_class = ""$' "$work/nomain.toml" || fail "no Main-Class: $(cat "$work/err")"

# A modular jar whose manifest has a class path of a jar, a folder and an absolute URL.
mkdir -p "$work/m/src/org/demo/app" "$work/m/classes"
printf 'module org.demo.app { }\n' >"$work/m/src/module-info.java"
printf 'package org.demo.app; public class Main { public static void main(String[] a) { } }\n' >"$work/m/src/org/demo/app/Main.java"
printf 'Class-Path: lib/dep%%20one.jar conf/\n  file:/opt/x.jar\n' >"$work/m/manifest"
javac -d "$work/m/classes" "$work/m/src/module-info.java" "$work/m/src/org/demo/app/Main.java" &&
  jar --create --file "$work/My App_2.jar" --manifest "$work/m/manifest" --main-class org.demo.app.Main \
    -C "$work/m/classes" . || fail "could not make the modular jar"
expect_rc 0 "init of a modular jar" "$pack" init "$work/My App_2.jar" -o "$work/mod.toml"
for want in '^name = "My-App_2"$' "^    { jar = 'lib\\\\dep one.jar' },$" "^    { dir = 'conf' },$" \
            '^# module_mode = true$' '^# main_class = "org.demo.app/org.demo.app.Main"$'; do
  grep -q "$want" "$work/mod.toml" || fail "modular jar: no line $want in: $(cat "$work/mod.toml")"
done
grep -q "file:/opt/x.jar" "$work/err" || fail "the absolute Class-Path entry is not reported"
expect_rc 0 "check of the modular jar's file" "$pack" check "$work/mod.toml" --runtime-jar "$bin/vexlo-runtime.jar"

# Damaged and unreadable jars: exit 1 with the reason, nothing written.
head -c 300 "$work/hello-service.jar" >"$work/cut.jar"
printf 'not a zip' >"$work/text.jar"
for jar in cut.jar text.jar missing.jar; do
  expect_rc 1 "init of $jar" "$pack" init "$work/$jar" -o "$work/$jar.toml"
  grep -q "$jar: error: ." "$work/err" && [ ! -e "$work/$jar.toml" ] || fail "$jar: $(cat "$work/err")"
done

[ "$failures" -eq 0 ] && echo "vexlo-pack init: all checks passed"
exit "$failures"
