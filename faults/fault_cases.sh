# The fault cases over pcscd (sourced by scripts/faults through fault_lib.sh). Each takes its
# folder, returns non-zero on a problem and leaves a short summary in `note`.

# What a card that vanished or failed mid-sale explains in the audit: requests without an
# answer, and the sequence numbers the card gave to answers that never arrived.
lost_answers='request without an answer|gap: .* missing'

# qor-sim killed at random moments of a mass run (every other kill also leaving a torn record
# at the end of the card's log, as a kill during the append does), started again, the register
# run again on the same home.
case_sim_kill() {
  local home="$1/home" state="$1/card.state" ok=0 kills=0 run=0
  new_home "$home"
  # Each signature takes at least 20 ms, so a kill within sales * 10 ms of the first progress
  # line meets a run still going, however fast the machine.
  while ((kills < runs && run < runs * 3)); do
    run=$((run + 1))
    start_card "$state" --delay-ms 20 || return 1
    start_register "$home" "$1/run$run" "operator 1
mass $sales"
    wait_progress "$1/run$run"
    random_sleep $((sales * 10))
    if kill -0 "$reg_pid" 2>/dev/null; then
      kill_sim
      kills=$((kills + 1))
      ((kills % 2)) || tear_log "$state"
    fi
    wait_register 120
    stop_sim
    # Finished before the kill, the failed sale, or the card error of the vanished card.
    expect_rc "run $run" 0 1 3 || ok=1
  done
  note="$kills kills in $run runs; "
  ((kills > 0)) || { problem "no run was still going when its kill came"; ok=1; }
  closing "$home" "$state" || return 1
  audit "$home" "$lost_answers" || ok=1
  books "$home" || ok=1
  return $ok
}

# The register killed at random moments: every journal readable up to its last complete record,
# nothing the card answered missing from the S files.
case_register_kill() {
  local home="$1/home" state="$1/card.state" ok=0 kills=0 run=0
  new_home "$home"
  start_card "$state" --delay-ms 20 || return 1
  while ((kills < runs && run < runs * 3)); do
    run=$((run + 1))
    start_register "$home" "$1/run$run" "operator 1
mass $sales"
    wait_progress "$1/run$run"
    random_sleep $((sales * 10))
    if kill -0 "$reg_pid" 2>/dev/null; then
      kill -KILL "$reg_pid"
      kills=$((kills + 1))
    fi
    # Quiet: the shell would report the killed job.
    wait_register 60 2>/dev/null
    [[ $reg_rc == 137 ]] || expect_rc "run $run" 0 || ok=1
  done
  stop_sim
  note="$kills kills in $run runs; "
  ((kills > 0)) || { problem "no run was still going when its kill came"; ok=1; }
  closing "$home" "$state" || return 1
  local cut='no closing tag|record cut off|not a record here|no matching (transaction|report) record in the L file'
  audit "$home" "$lost_answers|$cut" || ok=1
  books "$home" || ok=1
  return $ok
}

# A run against a card with a fault option; the register must end as ALLOWED_RCS says and say
# WHAT_IT_SAYS; then a clean closing and the checks.
fault_run() {
  local dir_="$1" sales_="$2" said_="$3" allowed="$4" explained="$5"
  shift 5
  local home="$dir_/home" state="$dir_/card.state" ok=0
  new_home "$home"
  start_sim "$state" "$@" || return 1
  sleep 1  # no probe here: its commands would meet the fault too
  run_register "$home" "$dir_/run" "operator 1
mass $sales_
report daily unsigned" 300
  stop_sim
  expect_rc "run" $allowed || ok=1
  if [[ -n "$said_" ]] && ! said "$dir_/run" "$said_"; then
    problem "the register did not report the failure (expected /$said_/)"
    ok=1
  fi
  closing "$home" "$state" || return 1
  audit "$home" "$explained" || ok=1
  books "$home" || ok=1
  return $ok
}

# The card drops the connection after every 100th answer: a card error, cleanly.
case_reset_every() {
  local sales_=$((sales < 150 ? 150 : sales))
  fault_run "$1" "$sales_" 'did not sign|card error' "1 3" "$lost_answers" --reset-every 100
}

# Answers come later than the register's start-up watchdog (10 s) waits.
case_stall() {
  fault_run "$1" 1 '' "0 1 3" "$lost_answers" --stall-ms 11000
}

# TRANSACTION answered with 6F 00: every sale is refused (the run goes on) and nothing is signed.
case_status_transaction() {
  fault_run "$1" 3 'did not sign|card refused' "1 3" 'request without an answer' --status-word 40:6F00
}

# The reports answered with 6F 00: the closing fails, the sales are signed.
case_status_report() {
  fault_run "$1" 3 'refused' "1" 'request without an answer' --status-word 42:6F00
}

# Answers lose the second half of their data.
case_truncate() {
  fault_run "$1" 3 'card error' "1 3" "$lost_answers" --truncate
}

# Power cuts explored over a recorded run of register and embedded card (no pcscd needed): every
# sync point and 10,000 random cuts in a full run, a few hundred in a short one.
case_crash_states() {
  local states=10000
  ((ci)) && states=300
  KASSE_CRASH_STATES=$states "$bin/crash_tests" --gtest_filter='CrashExploration.*' \
    >"$1/crash.log" 2>&1 || { problem "crash exploration failed (see $1/crash.log)"; return 1; }
  note="$(grep -m1 'states explored' "$1/crash.log")"
}

# One flipped byte in every kind of file, at every place of a small file and 200 of a large one
# (in a short run 12 of each), then a restart and a sale; and the card's own files, every byte.
case_bit_rot() {
  local places=0
  ((ci)) && places=12
  KASSE_BITROT_POSITIONS=$places "$bin/crash_tests" --gtest_filter='BitRot.*' \
    >"$1/bit-rot.log" 2>&1 || { problem "bit-rot sweep failed (see $1/bit-rot.log)"; return 1; }
  if ((!ci)); then
    KASSE_BITROT_ALL=1 "$bin/sim_tests" --gtest_filter='CardBitRot.*' >"$1/card-bit-rot.log" 2>&1 ||
      { problem "card bit-rot sweep failed (see $1/card-bit-rot.log)"; return 1; }
  fi
  note="$(grep -c 'flips' "$1/bit-rot.log") kinds of file"
}
