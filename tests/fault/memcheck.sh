#!/bin/bash
# Under valgrind's memcheck: menu moves, a committed change, a capture started and stopped, the
# playback list opened, a recording played and stopped, the list closed, SIGTERM. No invalid
# access, nothing lost, no descriptor open but the standard ones, menu texts and list names freed.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run memcheck "$@"
command -v valgrind >/dev/null || fail "valgrind is not installed"
install_program production
report=$RUN_DIR/memcheck.log
HL_COMMAND="valgrind --quiet --leak-check=full --show-leak-kinds=all --track-fds=yes"
HL_COMMAND+=" --log-file=$report ./harrowlight <&0"
HARNESS_WAIT=60

start_in_tmux 80 24
expect_row 11 "RESOLUTION"
press Down 11 "EXPOSURE"
press Right 12 "$(centred NIGHT)"
act Enter wait_log ' -ex night ' 1
act Space wait_log ' -o .*IMG_.*\.jpg' 1
key Space
settle
choose_play
settle
act Space wait_until "the list to show the capture" screen_shows ".jpg"
act Enter wait_log '^omxplayer.bin ' 1
key Enter
settle
press Space 11 "EXEC"
expect_exit TERM

# flagged WHAT PATTERN: fails, showing the report, if a line but its own descriptor's matches.
flagged() {
  # shellcheck disable=SC2143 # grep -q would end the pipe early: pipefail would hide a match
  [ -z "$(grep -E "$2" "$report" | grep -vF memcheck.log)" ] || fail "$1:
$(cat "$report")"
}
flagged "memcheck found problems" \
  'Invalid|uninitialised|Mismatched|(definitely|indirectly|possibly) lost'
flagged "menu texts or list names not released" 'Config|Playback|ReadConfig|DirList|Menu'
flagged "descriptors left open" 'Open .*descriptor [0-9]+'
log "memcheck report: $(wc -l <"$report") lines"
cat "$report"
