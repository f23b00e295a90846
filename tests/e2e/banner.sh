#!/bin/bash
# Any command-line argument, even an empty one, prints exactly one banner line and ends with
# status 0 without touching the directory, also when started from another one.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run banner "$@"
install_program production

listing=$(ls -A "$RUN_DIR")
# check_banner PROGRAM ARG...: ./harrowlight in the run directory, or its whole path from /.
check_banner() {
  local output status=0
  output=$(cd "$RUN_DIR" && { [[ $1 != /* ]] || cd /; } && "$@" </dev/null) || status=$?
  shift
  [ "$status" -eq 0 ] || fail "argument '$*': exit status $status"
  [ "$(printf '%s\n' "$output" | wc -l)" -eq 1 ] || fail "argument '$*': not one line: $output"
  [[ $output == *V1.00*2013-12-29* ]] || fail "argument '$*': no version and date: $output"
  [ "$(ls -A "$RUN_DIR")" = "$listing" ] || fail "argument '$*': files changed: $(ls -A "$RUN_DIR")"
}

check_banner ./harrowlight x
check_banner ./harrowlight ""
check_banner ./harrowlight a b c
check_banner "$RUN_DIR/harrowlight" --help
