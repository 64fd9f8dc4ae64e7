#!/bin/sh
# with_com_pair.sh A B COMMAND...: runs COMMAND with COM A and COM B of the
# Wine prefix joined by a pty pair (socat), named to it in
# VELMORA_TEST_COM_A and VELMORA_TEST_COM_B. The ports are links in the
# prefix's dosdevices, which Wine resolves at every open: no wineserver
# restart, so the tier's persistent server and its other tests stay as they are.
set -eu
a=$1
b=$2
shift 2
prefix=${WINEPREFIX:-$HOME/.wine}
[ -d "$prefix/dosdevices" ] || { echo "with_com_pair: no Wine prefix at $prefix" >&2; exit 1; }
dir=$(mktemp -d)
socat pty,raw,echo=0,link="$dir/a" pty,raw,echo=0,link="$dir/b" &
pid=$!
cleanup() {
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -f "$prefix/dosdevices/com$a" "$prefix/dosdevices/com$b"
  rm -rf "$dir"
}
trap cleanup EXIT
tries=0
while [ ! -e "$dir/a" ] || [ ! -e "$dir/b" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 300 ]; then
    echo "with_com_pair: socat made no ptys within 30 s" >&2
    exit 1
  fi
  sleep 0.1
done
ln -sfn "$(readlink -f "$dir/a")" "$prefix/dosdevices/com$a"
ln -sfn "$(readlink -f "$dir/b")" "$prefix/dosdevices/com$b"
status=0
VELMORA_TEST_COM_A="COM$a" VELMORA_TEST_COM_B="COM$b" "$@" || status=$?
exit "$status"
