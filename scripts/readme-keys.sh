#!/usr/bin/env bash
# Rewrites the README's vexlo-pack key reference and docs/vexlo.schema.json from the tool's mapping table.
# Usage: readme-keys.sh [BUILD_DIR]   (needs BUILD_DIR/bin/vexlo-pack, built by scripts/test.sh)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
keys="$("$build/bin/vexlo-pack" keys)"
KEYS="$keys" awk '
  /<!-- keys:begin -->/ { print; print ENVIRON["KEYS"]; skip=1; next }
  /<!-- keys:end -->/ { skip=0 }
  !skip' "$root/README.md" >"$root/README.md.new"
mv "$root/README.md.new" "$root/README.md"
"$build/bin/vexlo-pack" schema >"$root/docs/vexlo.schema.json"
