#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: the layout an installed copy needs, and the
# installed kasse run as a new user: its home made in the user's data folder from
# <prefix>/share/kasse, a signed sale that verifies, and nothing written below the prefix.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
user=$work/user
mkdir -p "$user"

fail() {
  echo "install test: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log" >&2
  fail "cmake --install failed"
}
for file in bin/kasse bin/kavelo-verify bin/qor-sim share/kasse/cfg/lang.ini \
  share/kasse/Produkte/Standard.xml share/applications/kasse.desktop \
  share/icons/hicolor/scalable/apps/kasse.svg lib/systemd/user/qor-sim.service \
  lib/systemd/user/kavelo-verify.service; do
  [[ -f "$prefix/$file" ]] || fail "$file is not installed"
done
for unit in qor-sim kavelo-verify; do
  grep -q "^ExecStart=$prefix/bin/$unit\( \|$\)" "$prefix/lib/systemd/user/$unit.service" \
    || fail "$unit.service does not start $prefix/bin/$unit"
done
grep -q '^Exec=kasse$' "$prefix/share/applications/kasse.desktop" || fail "desktop entry"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/kasse.desktop"
fi
for program in kasse kavelo-verify qor-sim; do
  "$prefix/bin/$program" --version | grep -q "^$program [0-9]" || fail "$program --version"
  "$prefix/bin/$program" --help >/dev/null || fail "$program --help"
done

snapshot() { find "$prefix" -printf '%p %s %T@ %m\n' | sort; }
snapshot >"$work/before"
as_new_user() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_DATA_HOME -u XDG_STATE_HOME \
    -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME="$user" "$@"
}
sale='operator 1
select 0
qty 2
book
summe
kassieren
url'

# The user's default home, made at first start.
as_new_user "$prefix/bin/kasse" --batch - <<<"$sale" >"$work/default.out" 2>"$work/default.err" \
  || { cat "$work/default.err" >&2; fail "the installed kasse --batch failed"; }
home=$user/.local/share/kasse
cmp -s "$home/cfg/lang.ini" "$prefix/share/kasse/cfg/lang.ini" || fail "no lang.ini in $home"
cmp -s "$home/Produkte/Standard.xml" "$prefix/share/kasse/Produkte/Standard.xml" \
  || fail "no product list in $home"
ls "$home/Journal/"*S.xml >/dev/null 2>&1 || fail "no journal in $home/Journal"
[[ -d "$home/Export" ]] || fail "no Export folder in $home"
url=$(grep -m1 '^http.*verify\.php?t1=' "$work/default.out") || fail "no receipt URL"
as_new_user "$prefix/bin/kavelo-verify" url "$url" --home "$home" >"$work/verify.out" \
  || { cat "$work/verify.out" >&2; fail "the receipt does not verify"; }

# A home named with --home that does not exist yet is made the same way.
as_new_user "$prefix/bin/kasse" --batch - --home "$work/other/home" <<<"$sale" >/dev/null \
  2>"$work/other.err" || { cat "$work/other.err" >&2; fail "kasse --batch --home failed"; }
cmp -s "$work/other/home/cfg/lang.ini" "$prefix/share/kasse/cfg/lang.ini" \
  || fail "--home DIR was not given the defaults"

snapshot >"$work/after"
diff "$work/before" "$work/after" >&2 || fail "the programs wrote below the prefix"
echo "install test: installed layout, first start as a new user, nothing written to $prefix"
