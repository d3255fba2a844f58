#!/usr/bin/env bash
# Installs the Debian packages Norvex needs to build, test and run; does nothing when all are present.
# One list for the whole project. Pass "bench" to add the peer tools the benchmarks compare against.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  libarchive-dev liblhasa-dev libisal-dev zlib1g-dev qt6-base-dev
  # run: Qt's own texts (file dialogs, context menus) in Japanese; the SVG program icon
  qt6-translations-l10n libqt6svg6
  libgtest-dev libgmock-dev
  # fuzz targets and sanitizer runtimes
  clang libclang-rt-14-dev
  # tests: independent tools that make and check archives, a display, a CJK font, desktop tools
  libarchive-tools lhasa zip unzip p7zip-full gcab zstd xz-utils python3
  # tests: time zones with every kind of offset (DOS times are local times)
  tzdata
  xvfb xauth xdotool fonts-ipafont-gothic desktop-file-utils xdg-utils
  # tests: the Debian package check
  lintian
  # tests on a real X server: a window manager, window properties
  openbox x11-utils
)
if [ "${1:-}" = bench ]; then
  packages+=(libbenchmark-dev libre2-dev unar hyperfine time python3 librsvg2-bin)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "norvex: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# A fresh machine has no package lists yet; refresh them once when an install fails for want of them.
if ! $sudo apt-get install -y --no-install-recommends "${missing[@]}"; then
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
