#!/usr/bin/env bash
# Runs the window's smoke test under Wine on an X display of its own: Xvfb
# picks a free display number itself (-displayfd) and is stopped by its pid
# whatever the test did. The test runs in a Wine desktop of its own, whose
# desktop process starts on that display: the tier's prefix boots without
# one, and windows of its default desktop could not be created at all.
# The desktop process does not pass the test's exit status on, so the
# verdict is read from the test's XML report. Exit 77 (skipped) without Xvfb.
#   tests/windows/window_smoke.sh WINDOW_SMOKE_TEST.EXE VELMORA.EXE
set -euo pipefail
test_exe=${1:?usage: window_smoke.sh TEST.EXE VELMORA.EXE}
program=${2:?usage: window_smoke.sh TEST.EXE VELMORA.EXE}
command -v Xvfb >/dev/null || { echo "window_smoke: Xvfb is not installed" >&2; exit 77; }

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
display=$(timeout 30 head -n 1 "$work/display" || true)
[ -n "$display" ] || { echo "window_smoke: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"

report="$work/report.xml"
wine explorer "/desktop=velmora-smoke-$$,1280x1024" "$test_exe" "$program" \
  "--gtest_output=xml:$(winepath -w "$report" 2>/dev/null)"
[ -s "$report" ] || { echo "window_smoke: the test wrote no report" >&2; exit 1; }
summary=$(grep -m 1 -o '<testsuites [^>]*' "$report")
echo "$summary"
[[ $summary =~ tests=\"([1-9][0-9]*)\" && $summary == *'failures="0"'* && $summary == *'errors="0"'* ]]
