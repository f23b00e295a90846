#!/bin/bash
# The playback list of ".jpg" and ".h264" recordings in byte order, control bytes as "?" (the
# title stays, the arrows work); Enter plays and stops, Space goes back to the preview. A name
# holding shell syntax plays through a private plain-named link, gone when the player stops.
# shellcheck source=tests/lib/harness.sh
source "$(dirname "$0")/../lib/harness.sh"
setup_run playback "$@"
install_program production

captures=$RUN_DIR/captures
# shellcheck disable=SC2016 # a file name that would run a command if a shell expanded it
hostile1='a$(touch PWNED)b.jpg'
hostile2='x;touch PWNED2;.jpg'
names=("$hostile1" "$hostile2" clip1.h264 pic1.jpg notes.txt UPPER.JPG two.dots.jpg
  $'a\e[2Jb.jpg' $'c\e]0;pwned\ad.jpg' $'e\e[?1lf.jpg' $'g\nh.jpg' $'i\x9bj.jpg' k.jpg)
tee <<<data "${names[@]/#/$captures/}" >/dev/null
mkdir "$captures/folder.jpg"
ln -s pic1.jpg "$captures/link.jpg"

pwned=({"$RUN_DIR","$captures",/tmp}/PWNED{,2})
no_pwned() { for f in "${pwned[@]}"; do [ ! -e "$f" ] || fail "$f: a name ran"; done; }

start_menu
press Down 11 "EXPOSURE"
choose_play
wait_log '^raspistill ' 2
settle

key Space
# 24 rows: the highlighted first entry stands on row 13, the rows above it stay blank.
expect_rows 13 "a?[2Jb.jpg" "$hostile1" "c?]0;pwned?d.jpg" "clip1.h264" "e?[?1lf.jpg" "g?h.jpg" \
  "i?j.jpg" "k.jpg" "pic1.jpg" "$hostile2"
expect_blank {1..12} 23 24
[ "$(tmux_cmd display-message -p -t hl '#{pane_title}')" != pwned ] ||
  fail "a recording's name retitled the terminal"
wait_until "the preview to be stopped" standin_count_is raspistill 0
expect_word 68 3 "Mode saved on opening the list"
settle

link_path='/tmp/harrowlight-link-[[:alnum:]]{6}/play\.jpg'
press Down 13 "$hostile1"
act Enter wait_log "^omxplayer\\.bin -o hdmi $link_path\$" 1
link=$(grep -oE "$link_path" "$STANDIN_LOG")
[ "$(readlink "$link")" = "$captures/$hostile1" ] || fail "the link names '$(readlink "$link")'"
no_pwned

press Down 13 "c?]0;pwned?d.jpg"
[ ! -e "$link" ] || fail "the link outlived its player"
press Down 13 "clip1.h264"
act Enter wait_log "^omxplayer\\.bin -o hdmi $captures/clip1\\.h264\$" 1
wait_until "the player to run" standin_count_is omxplayer.bin 1
expect_row 13 "" # the screen is cleared for the recording
act Enter wait_until "the player to be stopped" standin_count_is omxplayer.bin 0
expect_row 13 "clip1.h264"

walk Down 13 "e?[?1lf.jpg" "g?h.jpg"
press Up 13 "e?[?1lf.jpg"
walk Down 13 "g?h.jpg" "i?j.jpg" "k.jpg" "pic1.jpg" "$hostile2"
act Enter wait_log "^omxplayer\\.bin -o hdmi $link_path\$" 2
no_pwned
act Space wait_log '^raspistill ' 3
expect_row 11 "EXEC"
end_run TERM
no_pwned
