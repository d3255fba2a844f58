#!/usr/bin/env bash
# Shows Norvex at work without a display: copies the sample archives of samples/ into a temporary
# folder, extracts them with norvex-cli (default settings, the archives are kept) and prints the log
# and what was made. Usage: scripts/demo.sh PATH_OF_NORVEX_CLI
set -euo pipefail
cli="$(realpath "${1:?usage: demo.sh PATH_OF_NORVEX_CLI}")"
top="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/norvex-demo-XXXXXX")"
cp "$top"/samples/*.zip "$work"/
# The split set is kept as docs.volumeN.rar; a set on a user's disk carries RAR's own volume names.
for n in 1 2; do cp "$top/samples/docs.volume$n.rar" "$work/docs.part$n.rar"; done
: > "$work/demo.ini"   # an empty settings file: every default, and the user's own settings untouched
cd "$work"
echo "Norvex デモ: samples/ の書庫を $work に解凍します"
echo
status=0
# The later volume docs.part2.rar is listed too: the run skips it with its own line.
"$cli" --ini "$work/demo.ini" -k 名簿.zip pics.2005.zip docs.part1.rar docs.part2.rar || status=$?
echo
echo "解凍されたもの:"
find . -mindepth 1 \( -name '*.zip' -o -name '*.rar' -o -name demo.ini \) -prune -o -print | sort | sed 's|^\./|  |'
echo
echo "(終了コード $status。フォルダ $work はそのまま残してあります)"
