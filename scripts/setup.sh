#!/usr/bin/env bash
# Installs the Debian packages the cross build and the Wine-based tests need; skips what is present.
set -euo pipefail
pkgs=(cmake make g++ g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 xvfb xauth
      googletest openjdk-17-jdk-headless junit5 wine64-tools libwine-dev python3 libtomlplusplus-dev
      zlib1g-dev libz-mingw-w64-dev osslsigncode openssl)
missing=()
# npm for the schema test's validator; a machine whose Node.js brings its own npm keeps it.
command -v npm >/dev/null || pkgs+=(npm)
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The TOML validator of the schema test; without it that test is skipped, so a failure here is no reason to stop.
bash "$(dirname "${BASH_SOURCE[0]}")/install-taplo.sh" >/dev/null || echo "note: @taplo/cli not installed; the schema test will be skipped"
