# The uninstaller killed while the applet prompt is open (the moment a user
# is likeliest to give up on it): the registry keys it had removed stay
# removed, registry.reg loads at the next start, and a second run finishes
# the job to the same end state as an uninterrupted one.
source "$(dirname "$0")/hosted_common.bash" "$@"

scenario "killed at the applet prompt"
machine=$(fresh_machine killed)
hold "$machine/WINDOWS/SYSTEM/tqc.cpl"
run_on_terminal --machine "$machine" --answers yes
if wait_for_screen 'Please close the Control Panel' && [ -s "$WORK/pid" ]; then
  kill -KILL "$(cat "$WORK/pid")"
else
  fail "the applet prompt did not appear on the terminal"
fi
end_terminal_run
release

# Next start, declined: whatever the killed run left beside registry.reg is
# folded in, and nothing else changes.
scenario "declined run after the kill"
run --machine "$machine" --answers no
expect_status 0
expect_registry "$machine"
# The four files of RemoveDriverFiles went before the applet's step.
gone=$(comm -23 <(files_of "$DEMO") <(files_of "$machine"))
added=$(comm -13 <(files_of "$DEMO") <(files_of "$machine"))
[ "$gone" = "$(printf './%s\n' "${PRODUCT_FILES[@]:0:4}" | sort)" ] ||
  fail "files removed before the kill: $(echo $gone)"
[ -z "$added" ] || fail "files left behind: $(echo $added)"
cmp -s "$DEMO/WINDOWS/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI changed before its step"

scenario "second run after the kill"
run --machine "$machine" --answers yes,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$COMPLETION"
expect_registry "$machine"
gone=$(comm -23 <(files_of "$DEMO") <(files_of "$machine") | wc -l)
added=$(comm -13 <(files_of "$DEMO") <(files_of "$machine"))
[ "$gone" -eq ${#PRODUCT_FILES[@]} ] || fail "$gone files removed in all, expected ${#PRODUCT_FILES[@]}"
[ -z "$added" ] || fail "files left behind: $(echo $added)"
cmp -s "$EXPECTED/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI differs from expected"

finish
