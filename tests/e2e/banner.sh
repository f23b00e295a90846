#!/bin/bash
# Any command-line argument, even an empty one, prints exactly one banner line and ends with
# status 0 without touching the directory: no state file or other file appears.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run banner "$@"
install_program production

check_banner() {
  local before after output status
  before=$(ls -A "$RUN_DIR")
  status=0
  output=$(cd "$RUN_DIR" && ./harrowlight "$@" </dev/null) || status=$?
  after=$(ls -A "$RUN_DIR")
  [ "$status" -eq 0 ] || fail "argument '$*': exit status $status"
  [ "$(printf '%s\n' "$output" | wc -l)" -eq 1 ] || fail "argument '$*': not one line: $output"
  [ -n "$output" ] || fail "argument '$*': empty banner"
  case $output in
    *V1.00*2013-12-29*) ;;
    *) fail "argument '$*': banner without version and date: $output" ;;
  esac
  [ "$before" = "$after" ] || fail "argument '$*': files changed: $before -> $after"
}

check_banner x
check_banner ""
check_banner a b c
# Through a path from elsewhere too: the banner comes before the directory change.
output=$(cd / && "$RUN_DIR/harrowlight" --help)
[ "$(printf '%s\n' "$output" | wc -l)" -eq 1 ] || fail "--help: not one line"
[ ! -e "$RUN_DIR/CONFIG.DAT" ] || fail "CONFIG.DAT written"
