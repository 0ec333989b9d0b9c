# Helpers of scripts/faults (sourced): the card daemon, the register, the checks. Every
# process started here is remembered by its id and ended by it, never by name.

sim_pid=""
reg_pid=""
reg_rc=0

# A register home as the repository ships it, with empty journals.
new_home() {
  mkdir -p "$1/cfg" "$1/Produkte" "$1/Journal" "$1/Export"
  cp "$root/home/cfg/lang.ini" "$1/cfg/"
  cp "$root/home/Produkte/Standard.xml" "$1/Produkte/"
}

problem() {
  echo "   problem: $*" | tee -a "$dir/problems.txt" >&2
}

# The register takes the first reader with a card: while another qor-sim (another test run on
# this machine) serves a vpcd reader, the runs here would sign on its card. Waits for it.
wait_for_free_readers() {
  local others
  for _ in $(seq 1 1200); do
    others="$(pgrep -x qor-sim | grep -vx "${sim_pid:-none}")" || return 0
    sleep 0.5
  done
  problem "another qor-sim ($others) kept serving the vpcd readers for 10 minutes"
  return 1
}

# start_sim STATE [qor-sim options...]: serves the card until stop_sim or kill_sim.
start_sim() {
  local state="$1"
  shift
  local log="$dir/qor-sim.log"
  local before
  before="$(grep -c 'connected to vpcd' "$log" 2>/dev/null)"
  "$bin/qor-sim" --state "$state" --port "$port" "$@" 2>>"$log" &
  sim_pid=$!
  # After a kill -9 the reader driver takes a while to take the next connection.
  for _ in $(seq 1 600); do
    (($(grep -c 'connected to vpcd' "$log" 2>/dev/null) > ${before:-0})) && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  problem "qor-sim did not reach vpcd on port $port (pcscd not running, or the port taken)"
  return 1
}

stop_sim() {
  [[ -n "$sim_pid" ]] || return 0
  kill -TERM "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=""
}

kill_sim() {
  [[ -n "$sim_pid" ]] || return 0
  kill -KILL "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=""
}

# tear_log STATE: what a kill in the middle of the card's log append leaves, the first bytes of
# a record (length 64, then half a checksum). The card must drop it at start: never answered.
tear_log() {
  printf '\x40\x00\x00\x00\x5a\xa5\x5a' >>"$1.log"
}

# Until pcscd shows the card: the register's own start-up check on a throwaway home.
wait_card() {
  [[ -d "$dir/probe" ]] || new_home "$dir/probe"
  for _ in $(seq 1 40); do
    echo status | "$bin/kasse" --batch - --home "$dir/probe" --card pcsc --card-wait 0 >/dev/null \
      2>"$dir/probe.err" && return 0
    sleep 0.25
  done
  return 1
}

# start_card STATE [qor-sim options...]: qor-sim started and its card seen by the register.
# After a kill -9 of the card in mid-command, pcscd's vpcd reader at times never shows the
# next connection's card; connecting once more brings it back (counted in `reconnects`).
reconnects=0
start_card() {
  for _ in 1 2 3; do
    start_sim "$@" || return 1
    wait_card && return 0
    stop_sim
    reconnects=$((reconnects + 1))
  done
  problem "the card never showed in the reader: $(tail -1 "$dir/probe.err")"
  return 1
}

# start_register HOME OUTPUT_PREFIX SCRIPT_TEXT: the register in the background.
start_register() {
  printf '%s\n' "$3" >"$2.kasse"
  "$bin/kasse" --batch "$2.kasse" --home "$1" --card pcsc >"$2.out" 2>"$2.err" &
  reg_pid=$!
}

# wait_register SECONDS: reg_rc is the exit status; a register that hangs is killed (rc 999).
wait_register() {
  local deadline=$((SECONDS + $1))
  while kill -0 "$reg_pid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.1; done
  if kill -0 "$reg_pid" 2>/dev/null; then
    kill -KILL "$reg_pid" 2>/dev/null
    { wait "$reg_pid"; } 2>/dev/null
    reg_rc=999
  else
    { wait "$reg_pid"; } 2>/dev/null
    reg_rc=$?
  fi
  reg_pid=""
}

# run_register HOME OUTPUT_PREFIX SCRIPT_TEXT [SECONDS]: in the foreground.
run_register() {
  start_register "$1" "$2" "$3"
  wait_register "${4:-120}"
}

# expect_rc WHAT ALLOWED...: the register ended with one of the allowed statuses.
expect_rc() {
  local what="$1" allowed
  shift
  for allowed in "$@"; do ((reg_rc == allowed)) && return 0; done
  if ((reg_rc == 999)); then
    problem "$what: the register hung"
  elif ((reg_rc >= 128)); then
    problem "$what: the register crashed (status $reg_rc)"
  else
    problem "$what: exit status $reg_rc, expected $*"
  fi
  return 1
}

# Until the register reports the progress of its mass run (or ends), at most 20 s.
wait_progress() {
  for _ in $(seq 1 200); do
    grep -q '^mass: ' "$1.err" 2>/dev/null && return 0
    kill -0 "$reg_pid" 2>/dev/null || return 0
    sleep 0.1
  done
}

# Sleeps a random time up to MAX milliseconds (at least a tenth of it).
random_sleep() {
  local ms=$((($1 / 10) + RANDOM % ($1 - $1 / 10 + 1)))
  sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
}

# The unsigned daily closing on a card without faults: the card's totals into the journal.
closing() {
  local home="$1" state="$2"
  start_card "$state" || return 1
  run_register "$home" "$dir/closing" "operator 1
report daily unsigned"
  stop_sim
  expect_rc "daily closing" 0
}

# audit HOME ALLOWED_REGEX: every finding of the audit is one the fault explains.
audit() {
  "$bin/kavelo-verify" audit --home "$1" >"$dir/audit.txt" 2>&1
  local rc=$? bad
  note+="audit: $(tail -1 "$dir/audit.txt"); "
  if ((rc == 2)) || grep -q '^unusable' "$dir/audit.txt"; then
    problem "audit: journals unusable"
    return 1
  fi
  bad="$(sed '$d' "$dir/audit.txt" | grep -Ev -- "$2")"
  if [[ -n "$bad" ]]; then
    problem "audit findings the fault does not explain:"
    echo "$bad" | head -5 | sed 's/^/      /' >&2
    return 1
  fi
}

# The books across all runs of the home: see faults/fault_books.h.
books() {
  "$bin/fault-check" "$1" >"$dir/books.txt" 2>&1
  local rc=$?
  note+="$(tail -1 "$dir/books.txt" | sed 's/^fault-check: //')"
  if ((rc != 0)); then
    problem "books:"
    sed '$d' "$dir/books.txt" | head -5 | sed 's/^/      /' >&2
    return 1
  fi
}

# Whether the register wrote a line matching REGEX to its error output or output.
said() {
  grep -Eq -- "$2" "$1.err" "$1.out"
}

source "$root/faults/fault_cases.sh"
source "$root/faults/bad_file_cases.sh"
