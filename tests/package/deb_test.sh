#!/usr/bin/env bash
# Unpacks the .deb into a scratch root, as dpkg would install it, and checks
# what a user would meet there: the three programs run from where they were
# installed, each has a manual page that covers every option its --help
# lists, the desktop entry finds its program and icon, the udev rule is where
# udev reads it, and the package depends on the Debian package of every
# library the programs link.
#
# deb_test.sh FILE.deb            check that package
# deb_test.sh --cpack BUILD_DIR   make the package of BUILD_DIR with cpack first
# --sanitized: the programs are a sanitizer build (the test suite's), whose
# runtime libraries a shipped package never carries; they are left out of the
# dependency check. Its link also keeps libraries the Release link drops
# (libGLX, libOpenGL through Qt); those may come with a dependency's own
# dependencies. A Release package must name each linked library's package.
set -euo pipefail

deb="" build="" sanitized=0
while [ $# -gt 0 ]; do
  case "$1" in
    --cpack) build="$2"; shift 2 ;;
    --sanitized) sanitized=1; shift ;;
    *) deb="$1"; shift ;;
  esac
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-deb.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if [ -n "$build" ]; then
  # A package directory of its own, so that a `make deb` beside it is not disturbed.
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
  deb=$(ls "$scratch"/out/*.deb)
fi
[ -f "$deb" ] || { echo "usage: deb_test.sh FILE.deb | --cpack BUILD_DIR [--sanitized]" >&2; exit 2; }
echo "package: $(basename "$deb")"

root="$scratch/root"
dpkg -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
names() { tr ',|' '\n\n' | sed 's/^ *//; s/[ (:].*//' | grep .; }
depends_names=$(names <<<"$depends")
if [ $sanitized -eq 1 ]; then
  for d in $depends_names; do
    depends_names+=$'\n'$(dpkg-query -W -f='${Pre-Depends},${Depends}\n' "$d" 2>/dev/null | names || true)
  done
fi
programs=(velmora velmora-cli velmora-sim)

# Runs an installed program with a generous bound; its output lands in $out.
run() {
  out=$(QT_QPA_PLATFORM=offscreen timeout 60 "$root/usr/bin/$1" "${@:2}" 2>&1) && status=0 || status=$?
}

for p in "${programs[@]}"; do
  bin="$root/usr/bin/$p"
  [ -x "$bin" ] || { fail "$p is not installed in /usr/bin"; continue; }

  # Every library it links comes from a package the .deb depends on.
  while read -r lib; do
    [ $sanitized -eq 1 ] && [[ $lib =~ ^lib(a|ub|t|l)san\. ]] && continue
    path=$(ldd "$bin" | awk -v l="$lib" '$1 == l { print $3 }')
    [ -n "$path" ] && [ "$path" != "not" ] || { fail "$p: $lib is not found"; continue; }
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(readlink -f "$path")" 2>/dev/null ||
            dpkg -S "${path#/usr}" 2>/dev/null) || { fail "$p: no package owns $path"; continue; }
    pkg=${owner%%:*}
    grep -qxF "$pkg" <<<"$depends_names" || fail "$p links $lib from $pkg, which Depends ($depends) lacks"
  done < <(readelf -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')

  # The manual page names every option --help lists (velmora's run on the
  # offscreen platform: no display needed).
  page="$root/usr/share/man/man1/$p.1.gz"
  if [ ! -f "$page" ]; then
    fail "$p has no manual page"
  else
    text=$(zcat "$page" | sed 's/\\-/-/g')
    run "$p" --help
    [ "$status" -eq 0 ] || { fail "$p --help exits with $status: $out"; continue; }
    [ "$p" != velmora ] || grep -q -- "--port" <<<"$out" || fail "velmora --help does not show --port: $out"
    for option in $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$out" | sort -u); do
      grep -qF -- "$option" <<<"$text" || fail "$p.1 does not describe $option"
    done
    if command -v groff >/dev/null; then
      warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1)
      [ -z "$warnings" ] || fail "$p.1: $warnings"
    fi
  fi
done

run velmora-cli --version
[ "$status" -eq 0 ] && grep -q "velmora-cli.*$version" <<<"$out" ||
  fail "velmora-cli --version exits with $status and prints '$out' (want velmora-cli $version)"

desktop="$root/usr/share/applications/velmora.desktop"
if [ -f "$desktop" ]; then
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -x "$root/usr/bin/$exec" ] || fail "the desktop entry runs '$exec', which is not installed"
  compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.*" >/dev/null ||
    fail "the desktop entry's icon '$icon' is not installed"
else
  fail "no desktop entry"
fi
[ -f "$root/usr/lib/udev/rules.d/99-velmora.rules" ] || fail "the udev rule is not in /usr/lib/udev/rules.d"

[ $failures -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "package ok: $(cd "$root" && find . -type f | sort | tr '\n' ' ')"
