#!/usr/bin/env bash
# A launcher signed after vexlo-pack build, as a release pipeline does: the signature verifies, the launcher
# still runs (stand-in virtual machine under Wine) and inspect reads the same configuration; a byte changed
# inside the configuration block after signing breaks the signature.
# Usage: signing_test.sh BIN_DIR SOURCE_DIR   (under scripts/wine-env.sh, as ctest runs it)
set -uo pipefail
bin="$1"; src="$2"
source "$(dirname "${BASH_SOURCE[0]}")/standin.sh"
for tool in osslsigncode openssl wine; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done
source "$(dirname "${BASH_SOURCE[0]}")/testlib.sh"
run() {  # description command...: must succeed, output kept in $work/out
  "$@" >"$work/out" 2>&1 || { fail "$1: $(tail -5 "$work/out")"; return 1; }
}

# A throw-away signer: a self-signed code-signing certificate, trusted as its own root by verify.
run openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=vexlo test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" || exit 1

run "$bin/vexlo-pack" build "$src/examples/hello-service/vexlo.toml" -o "$work/unsigned.exe" \
  --template "$bin/vexlo.exe" --runtime-jar "$bin/vexlo-runtime.jar" || exit 1
run osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "hello-service" \
  -in "$work/unsigned.exe" -out "$work/signed.exe" || exit 1
run osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" || fail "a freshly signed launcher does not verify"

"$bin/vexlo-pack" inspect "$work/unsigned.exe" >"$work/unsigned.toml" 2>/dev/null
"$bin/vexlo-pack" inspect "$work/signed.exe" >"$work/signed.toml" 2>"$work/signed.err" || fail "inspect of the signed launcher"
diff -u "$work/unsigned.toml" "$work/signed.toml" >"$work/diff" || fail "inspect differs after signing: $(head -20 "$work/diff")"
grep -q "bytes after" "$work/signed.err" && fail "inspect takes the signature for stray bytes: $(cat "$work/signed.err")"

# -run with a stand-in runtime in a jre folder beside the launcher.
run_standin "$bin" "$work/signed.exe" "$work" || fail "the signed launcher's -run ended with $?: $(tail -5 "$work/run.out")"
[ "$(recorded "$work" "main-arg|" | sed -n 2p)" = com.example.hello.HelloService ] ||
  fail "the signed launcher did not call the main class: $(head -c 600 "$work/record.txt" 2>/dev/null)"

# One byte inside the configuration block (which begins where the bare launcher ends) changed after signing.
cp "$work/signed.exe" "$work/tampered.exe"
at=$(( $(stat -c %s "$bin/vexlo.exe") + 40 ))
old="$(od -An -tu1 -j "$at" -N1 "$work/tampered.exe" | tr -d ' ')"
printf "$(printf '\\%03o' $(( (old + 1) % 256 )))" | dd of="$work/tampered.exe" bs=1 seek="$at" conv=notrunc status=none
cmp -s "$work/signed.exe" "$work/tampered.exe" && fail "the tampered copy equals the signed one"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered.exe" >"$work/out" 2>&1 &&
  fail "a launcher changed inside its block after signing still verifies"

[ "$failures" -eq 0 ] && echo "signed launcher: all checks passed"
exit "$failures"
