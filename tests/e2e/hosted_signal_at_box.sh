# A signal while a box waits (Ctrl-C, a kill, a terminal closed) ends the
# run with the signal's status (128 + N). At the confirmation the machine
# folder is byte for byte as it was: a run creates nothing in it before its
# first change. At a later box the changes made so far stay, with the
# journal of the registry's, and the next run finishes them.
source "$(dirname "$0")/hosted_common.bash" "$@"

# Starts a run on the terminal and sends SIGNAL once TEXT shows there.
signal_at() {
  local signal=$1 text=$2
  shift 2
  # With job control, as in an interactive shell: a background job of a
  # script starts with SIGINT ignored, and an ignored signal stays ignored.
  set -m
  run_on_terminal "$@"
  set +m
  if wait_for_screen "$text" && [ -s "$WORK/pid" ]; then
    kill -"$signal" "$(cat "$WORK/pid")"
  else
    fail "\"$text\" did not appear on the terminal"
  fi
  end_terminal_run
  expect_status $((128 + $(kill -l "$signal")))
}

for signal in INT TERM HUP; do
  scenario "SIG$signal at the confirmation"
  machine=$(fresh_machine "at-confirmation-$signal")
  signal_at "$signal" 'Yes or No?' --machine "$machine"
  expect_same_tree "$DEMO" "$machine"
done

scenario "SIGINT at the applet prompt, during the removal"
machine=$(fresh_machine at-applet)
hold "$machine/WINDOWS/SYSTEM/tqc.cpl"
signal_at INT 'Please close the Control Panel' --machine "$machine" --answers yes
release
left=$(cd "$machine" && find . -name '.tq72*' -o -name 'registry.reg.*')
[ "$left" = "./registry.reg.journal" ] || fail "left in the machine folder: $(echo $left)"
run --machine "$machine" --answers yes,ok
expect_status 1
expect_registry "$machine"

finish
