#!/usr/bin/env bash
# Runs the window's smoke test under Wine on an X display of its own: Xvfb
# picks a free display number itself (-displayfd), and is stopped by its pid
# whatever the test did. Without Xvfb the test runs on Wine's display-less
# driver, where windows and their messages work alike but draw nothing.
#   tests/windows/window_smoke.sh WINDOW_SMOKE_TEST.EXE VELMORA.EXE
set -euo pipefail
test_exe=${1:?usage: window_smoke.sh TEST.EXE VELMORA.EXE}
program=${2:?usage: window_smoke.sh TEST.EXE VELMORA.EXE}
xvfb_pid=
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if command -v Xvfb >/dev/null; then
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  display=$(timeout 30 head -n 1 "$fifo" || true)
  rm -f "$fifo"
  [ -n "$display" ] && export DISPLAY=":$display"
fi
wine "$test_exe" "$program"
