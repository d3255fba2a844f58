#!/usr/bin/env bash
# Builds the .deb of the build folder $1 and fails when lintian reports anything (errors, warnings).
# Exit 77: skipped (no lintian or no dpkg-deb).
set -euo pipefail
build=$1
command -v lintian >/dev/null && command -v dpkg-deb >/dev/null || { echo "lintian or dpkg-deb missing"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! "${CPACK:-cpack}" -G DEB -B "$scratch" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  exit 1
fi
deb=$(ls "$scratch"/*.deb)
# lintian's note about running as root goes to standard error; its findings to standard output.
report=$(lintian "$deb" 2>"$scratch/lintian.err") || true
if [ -n "$report" ] || grep -v 'running with root privileges' "$scratch/lintian.err" | grep -q .; then
  echo "lintian on $(basename "$deb"):"
  echo "$report"
  grep -v 'running with root privileges' "$scratch/lintian.err" || true
  exit 1
fi
echo "lintian on $(basename "$deb"): nothing to report"
