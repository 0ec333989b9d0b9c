#!/usr/bin/env bash
# Runs every batch example that `kasse --help` and the README show, as written, for a new user
# (a temporary HOME, no XDG folder, no display): each must end with 0. MODE sim runs the
# examples on the card inside the register; MODE pcsc runs those with --card pcsc, with a
# qor-sim of this test serving the card on pcscd's vpcd reader.
# Usage: documented_examples.sh SOURCE_DIR BIN_DIR sim|pcsc
set -euo pipefail
root=$1 bin=$2 mode=$3
user=$(mktemp -d)
sim_pid=""
cleanup() {
  if [[ -n "$sim_pid" ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$user"
}
trap cleanup EXIT

as_new_user() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_DATA_HOME -u XDG_STATE_HOME \
    -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME="$user" PATH="$bin:$PATH" "$@"
}

# The help's examples: the indented lines between "Examples:" and "Exit:".
"$bin/kasse" --help | sed -n '/^Examples:/,/^Exit:/{/^  /s/^  //p}' >"$user/examples"
# The README's: every shell line that runs kasse --batch, with the build's own bin folder.
awk '/^```sh/ {block = 1; next} /^```/ {block = 0} block && /kasse --batch/' "$root/README.md" \
  | sed "s|build/default/bin/|$bin/|g" >>"$user/examples"
[[ $(grep -c . "$user/examples") -ge 4 ]] || { cat "$user/examples" >&2; echo "too few examples" >&2; exit 1; }

if [[ "$mode" == pcsc ]]; then
  grep -q -- '--card pcsc' "$user/examples" || { echo "no pcsc example" >&2; exit 1; }
  # Started directly, not through the function, so that $! is the card's own process.
  env -u XDG_STATE_HOME HOME="$user" "$bin/qor-sim" --state "$user/card.state" \
    >"$user/qor-sim.log" 2>&1 &
  sim_pid=$!
  # The register waits for a card that is not there yet, but not for one that a card run just
  # before this left going away: start once this card sits in the reader.
  for _ in $(seq 100); do
    grep -q 'connected to vpcd' "$user/qor-sim.log" 2>/dev/null && break
    sleep 0.05
  done
fi

count=0
while IFS= read -r example; do
  [[ "$example" == *"--card pcsc"* ]] && want=pcsc || want=sim
  [[ "$want" == "$mode" ]] || continue
  count=$((count + 1))
  echo "example: $example"
  (cd "$root" && as_new_user bash -o pipefail -c "$example") >"$user/out" 2>"$user/err" || {
    echo "failed: $example" >&2
    cat "$user/err" >&2
    exit 1
  }
done <"$user/examples"
echo "documented examples ($mode): $count ran, all ended with 0"
