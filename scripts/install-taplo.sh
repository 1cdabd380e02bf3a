#!/usr/bin/env bash
# Installs the TOML validator the schema test uses (@taplo/cli from npm) into tools/node, ignored by git.
# Prints the path of the taplo command; exit code 1 (with the reason) when npm cannot install it.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
taplo="$root/tools/node/node_modules/.bin/taplo"
if [ ! -x "$taplo" ]; then
  command -v npm >/dev/null || { echo "npm is not installed" >&2; exit 1; }
  npm install --prefix "$root/tools/node" --no-save --no-audit --no-fund --loglevel=error @taplo/cli@0.7.0 >&2 ||
    { echo "npm install @taplo/cli failed" >&2; exit 1; }
fi
echo "$taplo"
