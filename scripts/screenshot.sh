#!/usr/bin/env bash
# Takes a picture of the operator window at the end of a run: twenty
# simulated handsets on paced lines take a phone-code image, one of them
# (entry 4) refuses a block, so its socket shows as failed, its log is the
# one shown and the end box counts it. Writes docs/window.png.
# Runs the window on a virtual X server (Xvfb) when there is one, else on
# Qt's off-screen platform. Usage: scripts/screenshot.sh [BUILD_DIR] [OUTPUT]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
out="${2:-$root/docs/window.png}"

if [[ ! -x "$build/bin/velmora_screenshot" || ! -x "$build/bin/velmora-sim" ]]; then
  cmake -S "$root" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j2 --target velmora_screenshot velmora-sim
fi
mkdir -p "$(dirname "$out")"

work="$(mktemp -d)"
sim_pid="" xvfb_pid=""
cleanup() {
  [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Scratch settings, so that a picture never depends on the user's.
export VELMORA_SETTINGS="$work/settings.ini"
# Sanitizer builds: the X and D-Bus client libraries keep memory to exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"

image="$work/sample_phone.bin"
"$root/scripts/make-sample-image" "$image" $((0x20000 + 24 * 1024 + 123)) $((0x20000)) 7
"$build/bin/velmora-sim" --count 20 --pace 5760 --fault 4/nak-failed:3 > "$work/ports" 2> "$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
  [[ "$(wc -l < "$work/ports")" -ge 20 ]] && break
  sleep 0.1
done
ports=()
while IFS='=' read -r com dev; do ports+=(--port "${com#COM}=$dev"); done < "$work/ports"
args=("$out" "${ports[@]}" --phone "$image" --at-end --show-entry 4 --after 50000)

if command -v Xvfb >/dev/null 2>&1; then
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [[ -e "/tmp/.X11-unix/X${display#:}" ]] && break
    sleep 0.1
  done
  DISPLAY="$display" QT_QPA_PLATFORM=xcb timeout 60 "$build/bin/velmora_screenshot" "${args[@]}"
else
  QT_QPA_PLATFORM=offscreen timeout 60 "$build/bin/velmora_screenshot" "${args[@]}"
fi
echo "wrote $out"
