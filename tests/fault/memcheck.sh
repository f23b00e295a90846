#!/bin/bash
# A full scenario under valgrind's memcheck: menu moves, a committed change, a capture
# started and stopped, the playback list opened, a recording played and stopped, the list
# closed, then SIGTERM. No invalid access, nothing lost, no descriptor left open but the
# standard ones, and every menu text and list name released at shutdown.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run memcheck "$@"
command -v valgrind >/dev/null || fail "valgrind is not installed"
install_program production
mv "$RUN_DIR/harrowlight" "$RUN_DIR/harrowlight.bin"
# The wrapper keeps the process id, so the helpers see valgrind as the program.
cat >"$RUN_DIR/harrowlight" <<'WRAP'
#!/bin/bash
exec valgrind --quiet --leak-check=full --show-leak-kinds=all --track-fds=yes \
  --log-file=memcheck.log ./harrowlight.bin "$@"
WRAP
chmod +x "$RUN_DIR/harrowlight"
HARNESS_WAIT=60

start_in_tmux 80 24
expect_row 11 "RESOLUTION"
log "menu moves and a committed change"
press Down 11 "EXPOSURE"
press Right 12 "$(centred NIGHT)"
key Enter
wait_log ' -ex night ' 1
settle
log "a capture started and stopped"
key Space
wait_log ' -o .*IMG_.*\.jpg' 1
settle
key Space
settle
log "the playback list, a recording played and stopped"
choose_play
settle
key Space
wait_until "the list to show the capture" screen_shows ".jpg"
settle
key Enter
wait_log '^omxplayer.bin ' 1
settle
key Enter
settle
key Space
expect_row 11 "EXEC"
settle
expect_exit TERM

report=$RUN_DIR/memcheck.log
[ -s "$report" ] || true  # --quiet writes nothing when all is well
if grep -qE 'Invalid|uninitialised|Mismatched|definitely lost|indirectly lost|possibly lost' "$report"; then
  fail "memcheck found problems:
$(cat "$report")"
fi
if grep -qE 'Config|Playback|ReadConfig|DirList|Menu' "$report"; then
  fail "menu texts or list names not released:
$(cat "$report")"
fi
# The only descriptor beyond the standard ones may be memcheck's own report.
left_open=$(grep -E 'Open .*descriptor [0-9]+' "$report" | grep -vF 'memcheck.log' || true)
[ -z "$left_open" ] || fail "descriptors left open:
$(cat "$report")"
log "memcheck report: $(wc -l <"$report") lines"
cat "$report"
