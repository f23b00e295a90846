#!/bin/bash
# Camera tools that hang, crash at once, print garbage or are missing, and no `ps`: over a hundred
# and more watchdog runs the tick goes on, Space still captures, saves and redraws, descriptors
# and children (ended ones too) do not pile up. Without `ps` no preview starts.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run tools "$@"
install_program production
SECONDS_EACH=${FAULT_TOOL_SECONDS:-22}

# Bytes that are no text, less ESC and ENQ so that the terminal answers nothing to the program.
LC_ALL=C awk 'BEGIN { srand(7); for (i = 0; i < 4000; i++) printf "%c", int(rand() * 255) + 1 }' |
  tr -d '\033\005' >"$RUN_DIR/garbage.bytes"
garbage="cat $RUN_DIR/garbage.bytes; cat $RUN_DIR/garbage.bytes >&2; exec %s \"\$@\""
# shellcheck disable=SC2009 # pgrep does not print the process state
zombies() { ps -o stat= --ppid "$1" 2>/dev/null | grep -c '^Z' || true; }
wchar() { awk '/^wchar:/ { print $2 }' "/proc/$1/io"; }

# Each row: the case, the system tools on its PATH besides stty and sleep, its camera tools' body
# around the stand-in %s (empty: none), what counts the watchdog's runs (ps; none: no check can
# run, so no preview may start), the stand-ins' environment. Hanging tools stay until killed.
cases=(
  'hang|killall|exec %s "$@" -t 0|ps|'
  'crash|killall|exec %s "$@"|ps|HARROWLIGHT_STANDIN_EXIT=crash'
  "garbage|killall cat|$garbage|ps|HARROWLIGHT_STANDIN_EXIT=now"
  'missing|killall||ps|'
  'no_ps|killall|exec %s "$@"|none|HARROWLIGHT_STANDIN_EXIT=now'
)
for row in "${cases[@]}"; do
  IFS='|' read -r name tools body source environment <<<"$row"
  # FAULT_TOOL_CASES picks some of the cases (CTest runs each as a test of its own).
  [[ " ${FAULT_TOOL_CASES:-$name} " == *" $name "* ]] || continue
  dir=$RUN_DIR/$name
  mkdir "$dir"
  # shellcheck disable=SC2086 # the tools are words
  for tool in stty sleep $tools; do
    ln -s "$(command -v "$tool")" "$dir/$tool" || fail "tool $tool not found"
  done
  [ "$source" = none ] ||
    tool_scripts "$dir" "echo ps >>$STANDIN_LOG; exec $(command -v ps) \"\$@\"" ps
  [ -z "$body" ] || tool_scripts "$dir" "$body" raspistill raspivid

  log "$name: ${SECONDS_EACH}s"
  # An earlier case's capture would move this one's number on.
  rm -f "$RUN_DIR/CONFIG.DAT" "$RUN_DIR/captures/"*
  : >"$STANDIN_LOG"
  # shellcheck disable=SC2086 # no assignment, or one
  start_in_tmux 80 24 "PATH=$dir" $environment
  sleep 2
  read -r fds0 kids0 <<<"$(leak_counts "$PROGRAM_PID")"
  if [ "$source" = ps ]; then
    before=$(log_count '^ps$')
    # One watchdog run every 825 ms; a slow machine only makes the wait longer.
    wait_until_long $((SECONDS_EACH * 4)) "$name: the watchdog to keep running" \
      log_count_at_least '^ps$' $((before + SECONDS_EACH * 1000 / 825))
    runs=$(($(log_count '^ps$') - before))
  else
    sleep "$SECONDS_EACH"
    runs=$(log_count ' -p ')
    [ "$runs" -eq 0 ] || fail "$name: $runs previews started without a process check"
  fi
  read -r fds1 kids1 <<<"$(leak_counts "$PROGRAM_PID")"
  ended=$(steady zombies "$PROGRAM_PID")
  log "$name: $runs watchdog runs; descriptors $fds0 -> $fds1; other children $kids0 -> $kids1;" \
    "ended children $ended"
  [ "$fds1" -le "$fds0" ] || fail "$name: descriptors grew from $fds0 to $fds1"
  [ "$kids1" -le "$kids0" ] || fail "$name: children grew from $kids0 to $kids1"
  [ "$ended" -le 1 ] || fail "$name: $ended ended children not collected"

  written=$(wchar "$PROGRAM_PID")
  key Space
  wait_until "$name: Space to capture and save number 2" state_word_is 0 2
  sleep 0.5
  [ "$(($(wchar "$PROGRAM_PID") - written))" -gt 500 ] || fail "$name: no redraw after a key"
  program_running || fail "$name: the program ended"
  end_run TERM
done
