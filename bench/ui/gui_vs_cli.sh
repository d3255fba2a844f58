#!/usr/bin/env bash
# The desktop program against norvex-cli on the same large ZIP: norvex started from the command line
# (hidden window, as a file-manager action starts it) and norvex-cli, both with the default settings
# (header test on, complete check). Then the window's answering time during a run of the same archive.
# Usage: bench/ui/gui_vs_cli.sh BUILD_DIR [SIZE_MB]
set -euo pipefail
build="$(realpath "${1:?usage: gui_vs_cli.sh BUILD_DIR [SIZE_MB]}")"
size_mb=${2:-200}
for f in bin/norvex bin/norvex-cli; do
  [ -x "$build/$f" ] || { echo "gui_vs_cli: $build/$f is not built" >&2; exit 1; }
done
work="$(mktemp -d "${TMPDIR:-/tmp}/norvex-guibench-XXXXXX")"
trap 'rm -rf "$work"' EXIT

# A private copy of the program: its settings file lives beside it, its instance lock in a private
# runtime folder, so a Norvex the user has open is never in the way.
mkdir -p "$work/bin" "$work/run" "$work/src/data" "$work/arc"
chmod 700 "$work/run"
cp "$build/bin/norvex" "$work/bin/"
ln -s "$build/lib" "$work/lib"
export XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
printf '[Sub_Confirm]\nShowEndDlg=0\n' > "$work/cli.ini"

# Half compressible text, half incompressible data, in files of 1-20 MB, under one top folder.
made=0; n=0
while [ "$made" -lt "$size_mb" ]; do
  n=$((n + 1)); mb=$(( (n % 20) + 1 ))
  if [ $((n % 2)) -eq 0 ]; then head -c "$((mb << 20))" /dev/urandom > "$work/src/data/r$n.bin"
  else (yes "Norvex benchmark line $n: 日本語のテキストも少し混ぜておきます。" || true) | head -c "$((mb << 20))" > "$work/src/data/t$n.txt"; fi
  made=$((made + mb))
done
(cd "$work/src" && zip -q -r "$work/arc/big.zip" data)
echo "archive: $(du -m "$work/arc/big.zip" | cut -f1) MB, $made MB unpacked"

clean="rm -rf '$work/arc/data' '$work/arc/data_old'*"
hyperfine --warmup 1 --runs "${RUNS:-5}" --prepare "$clean" --export-markdown "$work/result.md" \
  -n "norvex (window hidden)" "cp '$work/cli.ini' '$work/bin/Norvex.ini' && '$work/bin/norvex' -k '$work/arc/big.zip'" \
  -n "norvex-cli" "'$build/bin/norvex-cli' --ini '$work/cli.ini' -k '$work/arc/big.zip' > /dev/null"
cat "$work/result.md"
[ -d "$work/arc/data" ] || { echo "gui_vs_cli: nothing was extracted" >&2; exit 1; }

# How long the window can take to answer while a run goes on (a visible window this time).
if [ -x "$build/bin/norvex_ui_latency" ]; then
  eval "$clean"
  "$build/bin/norvex_ui_latency" "$work/arc/big.zip"
fi
