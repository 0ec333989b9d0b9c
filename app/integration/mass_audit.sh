#!/usr/bin/env bash
# The generator's default run of 1000 sales through `kasse --batch` on the embedded card, then
# the audit of its journal: 1000 valid signatures and sequence numbers without a gap.
set -euo pipefail
bin=$1 source=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# The run's card lives in its own folder, never in the user's state folder.
export XDG_STATE_HOME="$home/card-state"
cp -r "$source/home/." "$home/"
echo "mass 1000" | "$bin/kasse" --batch - --home "$home" 2>/dev/null
"$bin/kavelo-verify" audit --home "$home" | tee "$home/audit.txt"
grep -q "^1000 transactions, 0 reports, 1000 signatures valid, 0 findings" "$home/audit.txt"
