#!/bin/bash
# Camera tools that hang, crash at once, print garbage or are missing, and no `ps` on PATH: over
# a hundred and more watchdog runs the tick goes on, Space still captures and saves, the screen
# is redrawn, and descriptors, children and ended children do not pile up. Without `ps` no
# preview starts.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run tools "$@"
install_program production
SECONDS_EACH=${FAULT_TOOL_SECONDS:-22}
REAL_PS=$(command -v ps)

# tool_dir DIR TOOL...: DIR holds links to these system tools, stty and sleep, and nothing else.
tool_dir() {
  local dir=$1 tool path
  mkdir -p "$dir"
  for tool in stty sleep "${@:2}"; do
    path=$(command -v "$tool") || fail "tool $tool not found"
    ln -sf "$path" "$dir/$tool"
  done
}

# Bytes that are no text, less ESC and ENQ so that the terminal answers nothing to the program.
LC_ALL=C awk 'BEGIN { srand(7); for (i = 0; i < 4000; i++) printf "%c", int(rand() * 255) + 1 }' |
  tr -d '\033\005' >"$RUN_DIR/garbage.bytes"
garbage="cat $RUN_DIR/garbage.bytes; cat $RUN_DIR/garbage.bytes >&2; exec %s \"\$@\""
ps_calls() { wc -l <"$RUN_DIR/ps.calls"; }
ps_calls_at_least() { [ "$(ps_calls)" -ge "$1" ]; }
# shellcheck disable=SC2009 # pgrep does not print the process state
zombies() { ps -o stat= --ppid "$1" 2>/dev/null | grep -c '^Z' || true; }
wchar() { awk '/^wchar:/ { print $2 }' "/proc/$1/io"; }

# Each row: the case, the system tools on its PATH, its camera tools (link: the stand-ins; a
# wrapper body around the stand-in %s; empty: none), what counts the watchdog's runs (ps; none:
# no check can run, so no preview may start), the stand-ins' environment. Hanging tools ignore
# their run time and stay until killed.
cases=(
  'hang|killall|exec %s "$@" -t 0|ps|'
  'crash|killall|link|ps|HARROWLIGHT_STANDIN_EXIT=crash'
  "garbage|killall cat|$garbage|ps|HARROWLIGHT_STANDIN_EXIT=now"
  'missing|killall||ps|'
  'no_ps|killall|link|none|HARROWLIGHT_STANDIN_EXIT=now'
)
for row in "${cases[@]}"; do
  IFS='|' read -r name tools body source environment <<<"$row"
  # FAULT_TOOL_CASES picks some of the cases (CTest runs each as a test of its own).
  [[ " ${FAULT_TOOL_CASES:-$name} " == *" $name "* ]] || continue
  dir=$RUN_DIR/$name
  # shellcheck disable=SC2086 # the tools are words
  tool_dir "$dir" $tools
  [ "$source" = none ] || tool_scripts "$dir" "echo >>$RUN_DIR/ps.calls; exec $REAL_PS \"\$@\"" ps
  case $body in
    "") ;;
    link) standin_links "$dir" raspistill raspivid ;;
    *) tool_scripts "$dir" "$body" raspistill raspivid ;;
  esac

  log "$name: ${SECONDS_EACH}s"
  # An earlier case's capture would move this one's number on.
  rm -f "$RUN_DIR/CONFIG.DAT" "$RUN_DIR/ps.calls" "$RUN_DIR/captures/"*
  : >"$STANDIN_LOG"
  # shellcheck disable=SC2086 # no assignment, or one
  start_in_tmux 80 24 "PATH=$dir" $environment
  sleep 2
  fds=$(steady fd_count "$PROGRAM_PID")
  children=$(steady other_children "$PROGRAM_PID")
  if [ "$source" = ps ]; then
    before=$(ps_calls)
    # One watchdog run every 825 ms; a slow machine only makes the wait longer.
    wait_until_long $((SECONDS_EACH * 4)) "$name: the watchdog to keep running" \
      ps_calls_at_least $((before + SECONDS_EACH * 1000 / 825))
    runs=$(($(ps_calls) - before))
  else
    sleep "$SECONDS_EACH"
    runs=$(log_count ' -p ')
    [ "$runs" -eq 0 ] || fail "$name: $runs previews started without a process check"
  fi
  after_fds=$(steady fd_count "$PROGRAM_PID")
  after_children=$(steady other_children "$PROGRAM_PID")
  ended=$(steady zombies "$PROGRAM_PID")
  log "$name: $runs watchdog runs; descriptors $fds -> $after_fds; other children" \
    "$children -> $after_children; ended children $ended"
  [ "$after_fds" -le "$fds" ] || fail "$name: descriptors grew from $fds to $after_fds"
  [ "$after_children" -le "$children" ] ||
    fail "$name: children grew from $children to $after_children"
  [ "$ended" -le 1 ] || fail "$name: $ended ended children not collected"

  written=$(wchar "$PROGRAM_PID")
  key Space
  wait_until "$name: Space to capture and save number 2" state_word_is 0 2
  sleep 0.5
  [ "$(($(wchar "$PROGRAM_PID") - written))" -gt 500 ] || fail "$name: no redraw after a key"
  program_running || fail "$name: the program ended"
  expect_exit TERM
  expect_valid_state
  stop_tmux
  kill_our_standins
done
