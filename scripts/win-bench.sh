#!/usr/bin/env bash
# The window line of the benchmark for velmora.exe under Wine: twenty
# simulated handsets (velmora-sim, Linux) that take 3 ms to program each
# block, behind Wine's COM1..COM20; velmora.exe driven by
# tests/windows/window_bench.exe for a warm-up run and the measured runs,
# then velmora-cli.exe as many times on the same ports. Prints the runs and
# the medians. Wine's figures are Wine's: they compare the two programs on
# this machine, not Windows.
#   scripts/win-bench.sh [WIN_BUILD_DIR] [LINUX_BUILD_DIR] [RUNS] [BLOCKS]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
win="$(cd "${1:-$root/build-win}" && pwd)"
linux="$(cd "${2:-$root/build}" && pwd)"
runs="${3:-5}"
blocks="${4:-200}"
for f in "$win/bin/velmora.exe" "$win/bin/velmora-cli.exe" "$win/tests/window_bench.exe" "$linux/bin/velmora-sim"; do
  [[ -x "$f" ]] || { echo "win-bench: $f is missing (make windows; make build)" >&2; exit 1; }
done

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

mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
display=$(timeout 30 head -n 1 "$work/display")
export DISPLAY=":$display"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
mkdir -p "$WINEPREFIX"
wineserver -p
timeout 300 wineboot -i >/dev/null 2>&1

image="$work/sample_phone.bin"
"$root/scripts/make-sample-image" "$image" $((0x20000 + blocks * 1024)) $((0x20000)) 7
"$linux/bin/velmora-sim" --count 20 --program-us 3000 > "$work/ports" 2> "$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
  [[ "$(wc -l < "$work/ports")" -ge 20 ]] && break
  sleep 0.1
done
while IFS='=' read -r com dev; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "$com" /d "$dev" /f >/dev/null 2>&1
  ln -sfn "$dev" "$WINEPREFIX/dosdevices/$(echo "$com" | tr 'A-Z' 'a-z')"
done < "$work/ports"

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
timeout 1200 wine explorer /desktop=velmora-bench,1280x1000 "$win/tests/window_bench.exe" "$win/bin/velmora.exe" \
  "$win/bin/velmora-cli.exe" "$image" --ports 20 --runs "$runs" > "$work/runs" 2>&1 || true
tr -d '\r' < "$work/runs"
awk '
  /^host=/ { for (i = 1; i <= NF; ++i) { split($i, kv, "="); f[kv[1]] = kv[2] }
             if (f["warm"] == "1") next
             n[f["host"]]++; s[f["host"], n[f["host"]]] = f["seconds"]; c[f["host"], n[f["host"]]] = f["cpu_ms"] }
  function median(a, h, k,   i, j, t, v) { for (i = 1; i <= k; ++i) v[i] = a[h, i]
             for (i = 1; i <= k; ++i) for (j = i + 1; j <= k; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
             return k % 2 ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2 }
  END { for (h in n) printf "median %s: %.3f s, %.0f ms CPU over %d runs\n", h, median(s, h, n[h]), median(c, h, n[h]), n[h] }
' <(tr -d '\r' < "$work/runs")
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
