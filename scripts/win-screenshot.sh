#!/usr/bin/env bash
# Takes a picture of velmora.exe under Wine 25 seconds into a run: twenty
# simulated handsets (velmora-sim, Linux) behind Wine's COM1..COM20 take a
# phone-code image, one of them refuses a block so a failure shows too.
# Writes docs/windows.png.
#   scripts/win-screenshot.sh [WIN_BUILD_DIR] [LINUX_BUILD_DIR] [OUTPUT]
# Needs wine, Xvfb and a Korean font (fonts-nanum); everything runs in a
# scratch Wine prefix on a display of its own.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
win="$(cd "${1:-$root/build-win}" && pwd)"
linux="$(cd "${2:-$root/build}" && pwd)"
out="${3:-$root/docs/windows.png}"
for f in "$win/bin/velmora.exe" "$win/tests/window_shot.exe" "$linux/bin/velmora-sim"; do
  [[ -x "$f" ]] || { echo "win-screenshot: $f is missing (make windows; make build)" >&2; exit 1; }
done
mkdir -p "$(dirname "$out")"

work="$(mktemp -d)"
sim_pid="" xvfb_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The display first: the prefix's desktop starts on the display its first
# program finds.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
display=$(timeout 30 head -n 1 "$work/display")
export DISPLAY=":$display"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
mkdir -p "$WINEPREFIX"
wineserver -p
timeout 300 wineboot -i >/dev/null 2>&1

# Wine's own caption and message box font has no Hangul: link it to the
# Korean font, as Windows links its system fonts to Malgun Gothic.
link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
  wine reg add "$link" /v "$face" /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f >/dev/null 2>&1
done

image="$work/sample_phone.bin"
"$root/scripts/make-sample-image" "$image" $((0x20000 + 200 * 1024 + 123)) $((0x20000)) 7
"$linux/bin/velmora-sim" --count 20 --pace 5760 --fault 4/nak-failed:3 > "$work/ports" 2> "$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
  [[ "$(wc -l < "$work/ports")" -ge 20 ]] && break
  sleep 0.1
done
# Each handset's pty behind the COM port of its number: Wine's device
# manager rewrites the prefix's COM links from its port table, so the pty
# goes into both.
while IFS='=' read -r com dev; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "$com" /d "$dev" /f >/dev/null 2>&1
  ln -sfn "$dev" "$WINEPREFIX/dosdevices/$(echo "$com" | tr 'A-Z' 'a-z')"
done < "$work/ports"

timeout 120 wine explorer /desktop=velmora,960x700 "$win/tests/window_shot.exe" "$win/bin/velmora.exe" \
  "$work/shot.bmp" --ports 20 --phone "$image" --after 25000
[[ -s "$work/shot.bmp" ]] || { echo "win-screenshot: no picture was taken" >&2; exit 1; }
python3 "$root/scripts/bmp2png.py" "$work/shot.bmp" "$out"
echo "wrote $out"
