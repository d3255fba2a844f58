#!/usr/bin/env bash
# Configures (once) and builds a tree. Usage: scripts/build.sh BUILD_DIR [cmake options...]
# A second call only rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja "$@"
fi
cmake --build "$dir" --parallel "$(nproc)"
