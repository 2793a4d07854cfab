# The Control Panel holding the applet (a flock on tqc.cpl): the run asks once
# to close it. Held throughout, the applet stays and everything else goes;
# released while the prompt is open, the second attempt deletes it.
source "$(dirname "$0")/hosted_common.bash" "$@"

expect_files_gone_but_applet() {
  local machine=$1 f
  for f in "${PRODUCT_FILES[@]}"; do
    [ "$f" = WINDOWS/SYSTEM/tqc.cpl ] || [ ! -e "$machine/$f" ] || fail "$f still there"
  done
}

scenario "applet held throughout the run"
machine=$(fresh_machine held)
hold "$machine/WINDOWS/SYSTEM/tqc.cpl"
run --machine "$machine" --answers yes,ok,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$APPLET_PROMPT" "0|1|$COMPLETION"
cmp -s "$DEMO/WINDOWS/SYSTEM/tqc.cpl" "$machine/WINDOWS/SYSTEM/tqc.cpl" || fail "tqc.cpl not kept intact"
expect_files_gone_but_applet "$machine"
# Both attempts on the applet failed; the help file after them was deleted.
failed=$(grep '"call": *"DeleteFileA"' "$WORK/log" | grep -ic 'tqc\.cpl.*"result": *0' || true)
[ "$failed" = 2 ] ||
  fail "expected two failed deletions of tqc.cpl in the log"
expect_full_run_result "$machine"
release

# The user closes the Control Panel while the prompt is open. The prompt is
# answered on a terminal (script gives the run a pseudo-terminal), after the
# lock holder has gone.
scenario "applet released while the prompt is open"
machine=$(fresh_machine released)
hold "$machine/WINDOWS/SYSTEM/tqc.cpl"
run_on_terminal --machine "$machine" --answers yes
wait_for_screen 'Please close the Control Panel' || fail "the applet prompt did not appear on the terminal"
release
[ -e "$machine/WINDOWS/SYSTEM/tqc.cpl" ] || fail "tqc.cpl deleted before the prompt was answered"
printf '\n' >&3              # OK on the applet prompt
wait_for_screen 'Software uninstall is finished' || fail "no completion box on the terminal"
printf 'o\n' >&3             # OK on the completion
end_terminal_run
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$APPLET_PROMPT" "0|1|$COMPLETION"
[ ! -e "$machine/WINDOWS/SYSTEM/tqc.cpl" ] || fail "tqc.cpl still there after the lock was released"
expect_files_gone_but_applet "$machine"
cmp -s "$EXPECTED/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI differs from expected"

finish
