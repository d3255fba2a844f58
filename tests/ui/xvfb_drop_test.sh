#!/usr/bin/env bash
# A real drag and drop on a real X server: archive paths whose names are not UTF-8 (cp932 bytes) are
# dragged from another program onto the main window, the run is started with a click, and the archive
# must be extracted beside itself (so its bytes reached the engine unchanged through XDND).
# Usage: xvfb_drop_test.sh NORVEX DRAGSOURCE. Exits 77 (skipped) without Xvfb or xdotool.
set -euo pipefail
norvex=$1 dragsource=$2
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || exit 77

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  # The window writes its settings beside the program as it closes on SIGTERM: wait for that before
  # the folder goes, or removing it races the write.
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A copy of the program with its settings beside it: window at a known place, nothing asked.
mkdir -p "$work/prog/bin" "$work/run" "$work/arc"
chmod 700 "$work/run"
cp "$norvex" "$work/prog/bin/norvex"
ln -s "$(cd "$(dirname "$norvex")/../lib" && pwd)" "$work/prog/lib"
printf '[App]\nWindowX=100\nWindowY=100\n[Main]\nAfterMethod=0\n[Sub_Confirm]\nShowEndDlg=0\n' >"$work/prog/bin/Norvex.ini"

folder="$work/arc/"$'\x8e\x91\x97\xbf'          # 資料
archive="$folder/"$'\x95\x5c\x83\x5c.zip'        # 表ソ.zip
mkdir -p "$folder" "$work/src"
echo "dropped and extracted" >"$work/src/one.txt"
(cd "$work/src" && zip -q "$archive" one.txt)

# Xvfb picks a free display and writes its number to the file once it is ready.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>/dev/null & pids+=("$!")
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 77; }
export DISPLAY=":$(head -n1 "$work/display")" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb

"$work/prog/bin/norvex" >"$work/norvex.log" 2>&1 & pids+=("$!")
# On a busy machine a client can lose its first connection to a server that has just started: the
# drag source is started again when its window has not come up.
for _ in 1 2 3; do
  "$dragsource" "$archive" >/dev/null 2>&1 & pids+=("$!")
  for _ in $(seq 100); do
    xdotool search --name '^Norvex' >/dev/null 2>&1 && xdotool search --name '^norvex-drag-source$' >/dev/null 2>&1 && break 2
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
done
sleep 0.5

# Drag from the source (top-left corner of the screen) to the middle of the file list.
xdotool mousemove 60 40 mousedown 1
for p in "80 60" "150 120" "250 200" "350 250" "400 260"; do xdotool mousemove $p; sleep 0.15; done
sleep 0.3
xdotool mouseup 1
sleep 0.5
# 「全て解凍」 is the first button of the tool bar, below the menu bar.
xdotool mousemove 140 134 click 1

for _ in $(seq 100); do
  [ -f "$folder/one.txt" ] && break
  sleep 0.1
done
if [ ! -f "$folder/one.txt" ]; then
  echo "the dropped archive was not extracted" >&2
  ls -laR "$work/arc" >&2
  cat "$work/norvex.log" >&2
  exit 1
fi
grep -q "dropped and extracted" "$folder/one.txt"
[ -f "$archive" ]  # after-processing "nothing": the archive stays
echo "ok: a dropped cp932 name reached the engine byte for byte"
