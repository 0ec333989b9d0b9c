#!/bin/sh
# The verification page in a real browser: a sale signed by `kasse --batch` shows "valid" on
# the page that `kavelo-verify serve` answers, and the same link with a changed t1 does not.
# Usage: browser_verify_test.sh BIN_DIR SOURCE_DIR. Exit 77 (skipped) without chromium.
set -u
bin=$1
source=$2
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "SKIP: chromium is not installed"
  exit 77
fi

work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

cp -r "$source/home" "$work/home"
# A card and issuer of this test's own, not the user's.
export XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data"
"$bin/kavelo-verify" serve --listen 127.0.0.1:0 --home "$work/home" >"$work/serve.out" 2>&1 &
server=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's|^serving http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/serve.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "kavelo-verify serve did not start: $(cat "$work/serve.out")"

printf '[Verify]\nhost=127.0.0.1:%s\n' "$port" >"$work/home/cfg/start.ini"
printf 'select 0\nqty 2\nbook\nsumme\nkassieren\nurl\n' |
  "$bin/kasse" --batch - --home "$work/home" --strict >"$work/batch.out" 2>"$work/batch.err" ||
  fail "the sale was not signed: $(cat "$work/batch.err")"
url=$(grep '^http://' "$work/batch.out" | tail -n 1)
[ -n "$url" ] || fail "no verification URL in: $(cat "$work/batch.out")"
if [ ! -f "$XDG_STATE_HOME/kasse/test-issuer.der" ]; then
  echo "SKIP: the simulated card was not certified by the user's test issuer"
  exit 77
fi

page() {
  timeout 90 "$browser" --headless --no-sandbox --disable-gpu --user-data-dir="$work/browser" \
    --dump-dom "$1" 2>/dev/null
}

page "$url" >"$work/valid.html"
grep -q 'class="banner valid"' "$work/valid.html" || fail "the signed sale is not valid: $url"

# One Base64 character of the signed data changed.
prefix=${url%%t1=*}t1=
t1=${url#*t1=}
head=$(printf %s "$t1" | cut -c1-19)
char=$(printf %s "$t1" | cut -c20)
tail=$(printf %s "$t1" | cut -c21-)
if [ "$char" = A ]; then char=B; else char=A; fi
page "$prefix$head$char$tail" >"$work/changed.html"
grep -q 'class="banner invalid"' "$work/changed.html" || fail "a changed t1 was not refused"
grep -q 'class="banner valid"' "$work/changed.html" && fail "a changed t1 was accepted"
echo "PASS: valid and changed receipts told apart in the browser"
