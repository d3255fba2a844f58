#!/usr/bin/env bash
# norvex-cli against the usual tools on the same archives:
#   (a) 200 small ZIP archives, (b) one ZIP of about 300 MB of mixed data.
# norvex-cli runs with default settings (header test on, complete check); each tool extracts into a
# fresh folder. Reports the mean times (hyperfine) and norvex-cli's peak memory.
# Usage: bench/engine/engine_bench.sh PATH_OF_NORVEX_CLI [SIZE_MB]
set -eu
cli="$(realpath "${1:?usage: engine_bench.sh PATH_OF_NORVEX_CLI [SIZE_MB]}")"
size_mb=${2:-300}
work="$(mktemp -d "${TMPDIR:-/tmp}/norvex-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
: > empty.ini

# (a) 200 small archives of a few text files each.
mkdir -p small/src small/zips
for i in $(seq 1 200); do
  mkdir -p "small/src/s$i"
  for j in 1 2 3; do seq "$((i * j))" "$((i * j + 300))" > "small/src/s$i/f$j.txt"; done
  (cd small/src && zip -q -r "../zips/s$i.zip" "s$i")
done
# (b) one large archive: half compressible text, half incompressible data, in files of 1-20 MB.
mkdir -p large/src/data
made=0; n=0
while [ "$made" -lt "$size_mb" ]; do
  n=$((n + 1)); mb=$(( (n % 20) + 1 ))
  if [ $((n % 2)) -eq 0 ]; then head -c "$((mb << 20))" /dev/urandom > "large/src/data/r$n.bin"
  else yes "Norvex benchmark line $n: 日本語のテキストも少し混ぜておきます。" | head -c "$((mb << 20))" > "large/src/data/t$n.txt"; fi
  made=$((made + mb))
done
(cd large/src && zip -q -r ../big.zip data)

run_small() { # tool
  rm -rf out && mkdir out
  case $1 in
    norvex) "$cli" --ini empty.ini --to out small/zips/*.zip > /dev/null ;;
    bsdtar) for z in small/zips/*.zip; do bsdtar -xf "$z" -C out; done ;;
    unzip)  for z in small/zips/*.zip; do unzip -qo "$z" -d out; done ;;
    7z)     for z in small/zips/*.zip; do 7z x -y -bd -oout "$z" > /dev/null; done ;;
  esac
}
run_large() {
  rm -rf out && mkdir out
  case $1 in
    norvex) "$cli" --ini empty.ini --to out large/big.zip > /dev/null ;;
    bsdtar) bsdtar -xf large/big.zip -C out ;;
    unzip)  unzip -qo large/big.zip -d out ;;
    7z)     7z x -y -bd -oout large/big.zip > /dev/null ;;
  esac
}
export -f run_small run_large
export cli

for set in small large; do
  echo "== ($set)"
  hyperfine -N --warmup 1 --runs 5 --export-markdown "$set.md" \
    "bash -c 'run_$set norvex'" "bash -c 'run_$set bsdtar'" "bash -c 'run_$set unzip'" "bash -c 'run_$set 7z'" \
    2>/dev/null | grep -E "Time|±|bash" || true
  cat "$set.md"
done
echo "== peak memory of norvex-cli (KiB)"
rm -rf out && mkdir out
/usr/bin/time -f "%M" "$cli" --ini empty.ini --to out large/big.zip > /dev/null
