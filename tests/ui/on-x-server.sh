#!/bin/sh
# Runs a test program on a private X server (Xvfb) with a window manager when openbox is installed, as
# a desktop session would. Usage: on-x-server.sh PROGRAM [ARGS...]. Exit 77 (skip) without Xvfb.
set -u
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run is missing: skipped"; exit 77; }
exec xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
  wm=""
  if command -v openbox >/dev/null 2>&1; then
    openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
  fi
  QT_QPA_PLATFORM=xcb "$@"
  rc=$?
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  exit $rc' sh "$@"
