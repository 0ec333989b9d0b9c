#!/usr/bin/env bash
# The README's first command as a new user runs it on a machine without a display:
# `scripts/run` in a fresh account (a temporary HOME, no XDG folder set). It must end with 0 and
# a receipt whose URL `kavelo-verify url` finds valid for that user without options; a second
# run continues the same register: the same card, the next sequence number, the journals in
# the user's data folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$root/build/default/bin
# shellcheck source=new_account.sh
source "$root/app/integration/new_account.sh"
new_account
trap remove_account EXIT
user=$account_home

fail() {
  echo "readme run: $*" >&2
  exit 1
}

# run_once NAME: scripts/run as the README writes it; sets card and sequence of its receipt.
run_once() {
  local out="$user/$1.out"
  (cd "$root" && as_new_user scripts/run) >"$out" 2>&1 || { cat "$out" >&2; fail "scripts/run failed"; }
  local url
  url=$(grep -m1 '^http.*verify\.php?t1=' "$out") || { cat "$out" >&2; fail "no receipt URL"; }
  as_new_user "$bin/kavelo-verify" url "$url" >"$out.verify" 2>&1 \
    || { cat "$out.verify" >&2; fail "the receipt is not valid for this user: $url"; }
  card=$(sed -n 's/^card: *//p' "$out.verify")
  sequence=$(sed -n 's/^sequence: *//p' "$out.verify")
  [[ -n "$card" && "$sequence" =~ ^[0-9]+$ ]] || { cat "$out.verify" >&2; fail "no card or number"; }
}

run_once first
first_card=$card first_sequence=$sequence
run_once second
[[ "$card" == "$first_card" ]] || fail "the second run used another card: $card, not $first_card"
((sequence == first_sequence + 1)) \
  || fail "the second run signed number $sequence, not $((first_sequence + 1))"
ls "$user/.local/share/kasse/Journal/"*S.xml >/dev/null 2>&1 \
  || fail "no journal in the user's data folder $user/.local/share/kasse/Journal"
echo "readme run: two runs as a new user, card $card, numbers $first_sequence and $sequence"
