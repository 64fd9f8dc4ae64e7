#!/usr/bin/env bash
# Takes a picture of the operator window after start-up into docs/window.png.
# Runs the window on a virtual X server (Xvfb) when there is one, else on
# Qt's off-screen platform. Usage: scripts/screenshot.sh [BUILD_DIR] [OUTPUT]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
out="${2:-$root/docs/window.png}"

if [[ ! -x "$build/bin/velmora_screenshot" ]]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j2 --target velmora_screenshot
fi
mkdir -p "$(dirname "$out")"

# Scratch settings, so that a picture never depends on the user's.
settings="$(mktemp -d)"
trap 'rm -rf "$settings"; [[ -n "${xvfb_pid:-}" ]] && kill "$xvfb_pid" 2>/dev/null || true' EXIT
export VELMORA_SETTINGS="$settings/settings.ini"
# Sanitizer builds: the X and D-Bus client libraries keep memory to exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"

if command -v Xvfb >/dev/null 2>&1; then
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [[ -e "/tmp/.X11-unix/X${display#:}" ]] && break
    sleep 0.1
  done
  DISPLAY="$display" QT_QPA_PLATFORM=xcb timeout 60 "$build/bin/velmora_screenshot" "$out"
else
  QT_QPA_PLATFORM=offscreen timeout 60 "$build/bin/velmora_screenshot" "$out"
fi
echo "wrote $out"
