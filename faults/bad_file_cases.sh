# Bad files (sourced by scripts/faults through fault_lib.sh): malformed product lists, INI
# files, language files and batch scripts from faults/bad-files. Each must give a message that
# names the file and the problem (where the register can tell), and the register must go on
# with what it had: the sale after it is signed, and the journals stay clean.

bad_files="$root/faults/bad-files"
sale_lines="select 0
book
summe
kassieren
url"

# bad_file_run NAME SETUP_FILE TARGET SCRIPT MESSAGE_REGEX: one file in its place, one run.
# TARGET is where the file goes in the home ("" for none); MESSAGE_REGEX "" for a file the
# register cannot tell from a good one.
bad_file_run() {
  local name="$1" file="$2" target="$3" script="$4" message="$5"
  local home="$dir/$name/home" ok=0
  new_home "$home"
  [[ -n "$target" ]] && cp "$file" "$home/$target"
  printf '%s\n' "$script" >"$dir/$name/run.kasse"
  "$bin/kasse" --batch "$dir/$name/run.kasse" --home "$home" --card sim \
    --card-state "$home/card.state" \
    >"$dir/$name/run.out" 2>"$dir/$name/run.err"
  reg_rc=$?
  ((reg_rc < 2)) || { problem "$name: exit status $reg_rc"; ok=1; }
  if [[ -n "$message" ]] && ! grep -Eq -- "$message" "$dir/$name/run.err"; then
    problem "$name: no message /$message/: $(head -c 200 "$dir/$name/run.err")"
    ok=1
  fi
  if [[ "$script" == *url ]] && ! grep -q 'verify.php?t1=' "$dir/$name/run.out"; then
    problem "$name: the sale after the bad file was not signed"
    ok=1
  fi
  "$bin/kavelo-verify" audit --home "$home" >"$dir/$name/audit.txt" 2>&1 \
    || { problem "$name: audit: $(head -1 "$dir/$name/audit.txt")"; ok=1; }
  return $ok
}

case_bad_files() {
  local ok=0 count=0 file name expected
  # A huge language file is made here rather than kept in the repository.
  mkdir -p "$1/made"
  { printf '[Deutsch]\r\n1txt=de\r\n30txt='; head -c 2000000 /dev/zero | tr '\0' A
    printf '\r\n'; } >"$1/made/huge-line.ini"

  # Product lists, loaded over the shipped one: a refused file keeps the shipped list.
  declare -A product_message=(
    [truncated.xml]='truncated.xml: <itemList> is not closed'
    [no-item-list.xml]='no-item-list.xml: no <itemList>'
    [empty.xml]='empty.xml: no <itemList>'
    [binary.xml]='binary.xml: no <itemList>'
    [huge-price.xml]='huge-price.xml: item "Gold": price1 .* not a usable number'
    [price-not-a-number.xml]='price-not-a-number.xml: item "Brot": price2'
    [huge-quantity.xml]='' [markup-in-name.xml]=''
    [utf8-names.xml]='utf8-names.xml: saved as UTF-8, not Windows-1252')
  for file in "$bad_files"/products/*; do
    name="products-$(basename "$file")"
    expected="${product_message[$(basename "$file")]-unlisted}"
    [[ "$expected" == unlisted ]] && { problem "$name: no expectation listed"; ok=1; continue; }
    mkdir -p "$1/$name"
    bad_file_run "$name" "$file" "" "operator 1
products-load $file
$sale_lines" "$expected" || ok=1
    count=$((count + 1))
  done

  declare -A ini_message=(
    [truncated.ini]='cfg/start.ini: \[Tax\] container1=19 is not a four-digit rate'
    [huge-values.ini]='cfg/start.ini: \[Tax\] container1=9+ is not a four-digit rate'
    [rate-not-digits.ini]='cfg/start.ini: \[Tax\] container2=abcd'
    [binary.ini]='cfg/start.ini: line [0-9]+ is neither'
    [utf8-bom.ini]='cfg/start.ini: saved as UTF-8, not Windows-1252'
    [no-sections.ini]='cfg/start.ini: .*before the first section'
    [markup.ini]='')
  for file in "$bad_files"/ini/*; do
    name="ini-$(basename "$file")"
    expected="${ini_message[$(basename "$file")]-unlisted}"
    [[ "$expected" == unlisted ]] && { problem "$name: no expectation listed"; ok=1; continue; }
    mkdir -p "$1/$name"
    bad_file_run "$name" "$file" cfg/start.ini "operator 1
$sale_lines" "$expected" || ok=1
    count=$((count + 1))
  done

  # What the home's copy lacks comes from the shipped language file: no text goes missing.
  declare -A lang_message=(
    [empty.ini]='' [missing-section.ini]='' [truncated.ini]='' [huge-line.ini]=''
    [utf8.ini]='cfg/lang.ini: saved as UTF-8, not Windows-1252')
  for file in "$bad_files"/lang/* "$1/made/huge-line.ini"; do
    name="lang-$(basename "$file")"
    expected="${lang_message[$(basename "$file")]-unlisted}"
    [[ "$expected" == unlisted ]] && { problem "$name: no expectation listed"; ok=1; continue; }
    mkdir -p "$1/$name"
    bad_file_run "$name" "$file" cfg/lang.ini "language English
operator 1
$sale_lines" "$expected" || ok=1
    count=$((count + 1))
  done

  # Batch scripts, run as they are: every bad line reported with its number, the rest run.
  for file in "$bad_files"/batch/*; do
    name="batch-$(basename "$file")"
    mkdir -p "$1/$name"
    new_home "$1/$name/home"
    "$bin/kasse" --batch "$file" --home "$1/$name/home" --card sim \
      --card-state "$1/$name/home/card.state" >"$1/$name/run.out" 2>"$1/$name/run.err"
    reg_rc=$?
    ((reg_rc < 2)) || { problem "$name: exit status $reg_rc"; ok=1; }
    if ((reg_rc == 1)) && ! grep -q '^error: line [0-9]' "$1/$name/run.err"; then
      problem "$name: failed without naming the line"
      ok=1
    fi
    # A script that signs nothing leaves no journal pair, and so nothing to audit.
    if compgen -G "$1/$name/home/Journal/*.xml" >/dev/null; then
      "$bin/kavelo-verify" audit --home "$1/$name/home" >"$1/$name/audit.txt" 2>&1
      (($? < 2)) && ! sed '$d' "$1/$name/audit.txt" | grep -q . \
        || { problem "$name: audit: $(head -1 "$1/$name/audit.txt")"; ok=1; }
    fi
    count=$((count + 1))
  done
  note="$count files; "
  return $ok
}
