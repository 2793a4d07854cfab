# The machine folder is shared with whatever else runs: a second run, another
# program editing registry.reg. The run must keep out of another run's way
# and keep what others changed.
source "$(dirname "$0")/hosted_common.bash" "$@"

# Nothing of ours may be left in the folder once a run has ended.
expect_no_leftovers() {
  local left
  left=$(find "$1" -name '.tq72*' -o -name 'registry.reg.*' | head -5)
  [ -z "$left" ] || fail "left in the machine folder: $left"
}

# A second run on $machine, with the same log as the first, is refused, and
# leaves the first run's log whole (it once emptied it on its way out: the
# first run's later lines then followed zero bytes where its earlier ones had
# been).
second_run_is_refused() {
  cp "$WORK/log" "$WORK/log-while-waiting"
  run_plain --machine "$machine" --answers yes,ok,ok --log "$WORK/log"
  expect_status 2
  cmp -s "$WORK/log-while-waiting" "$WORK/log" || fail "a refused run changed the shared log"
}

scenario "a second run while the first waits at the confirmation"
machine=$(fresh_machine first)
run_on_terminal --machine "$machine"
wait_for_screen 'Yes or No?' || fail "the confirmation did not appear on the terminal"
second_run_is_refused
[ "$(wc -l <"$WORK/stderr")" -eq 1 ] || fail "expected a one-line reason: $(cat "$WORK/stderr")"
grep -qF "the uninstaller is already running on this machine" "$WORK/stderr" ||
  fail "reason: $(cat "$WORK/stderr")"

# Meanwhile another program adds a key to registry.reg: the fold applies the
# run's removals to the file as it is then.
added='[HKEY_LOCAL_MACHINE\\Software\\AddedMeanwhile]\r\n"v"="1"\r\n\r\n'
printf "$added" >>"$machine/registry.reg"
{ cat "$DEMO/registry.reg"; printf "$added"; } >"$WORK/added-meanwhile.reg"
printf 'y\n' >&3
wait_for_screen 'Software uninstall is finished' || fail "no completion box on the terminal"
second_run_is_refused
printf '\n' >&3
end_terminal_run
expect_status 1
[ "$(sed -n '1p;$p' "$WORK/log" | grep -c '^{"n":[0-9]*,"call":"MessageBoxA"')" = 2 ] &&
  ! tr -d '\n' <"$WORK/log" | grep -q '[^ -~]' ||
  fail "the first run's log is not its calls from first box to last, whole"
expect_registry "$machine" "$WORK/added-meanwhile.reg"
cmp -s "$EXPECTED/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI differs from expected"
expect_no_leftovers "$machine"

# Full runs started in pairs at once on a large SYSTEM.INI: one waits its
# turn or is turned away; the folder ends as after one run every time.
scenario "pairs of simultaneous runs"
for i in $(seq 3000); do printf 'filler%05d=%060d\r\n' "$i" "$i"; done >"$WORK/filler"
sed "/^\[386Enh\]/r $WORK/filler" "$DEMO/WINDOWS/SYSTEM.INI" >"$WORK/big.ini"
sed "/^\[386Enh\]/r $WORK/filler" "$EXPECTED/SYSTEM.INI" >"$WORK/big-expected.ini"
for pair in $(seq 12); do
  CASE="pairs of simultaneous runs: pair $pair"
  machine=$(fresh_machine "pair$pair")
  cp "$WORK/big.ini" "$machine/WINDOWS/SYSTEM.INI"
  (bounded "$BIN" --machine "$machine" --answers yes,ok,ok </dev/null >/dev/null 2>"$WORK/a.err"
   exit "$STATUS") & a=$!
  (bounded "$BIN" --machine "$machine" --answers yes,ok,ok </dev/null >/dev/null 2>"$WORK/b.err"
   exit "$STATUS") & b=$!
  sa=0 sb=0
  wait $a || sa=$?
  wait $b || sb=$?
  case "$sa$sb" in
    11 | 12 | 21) ;;
    *) fail "exit statuses $sa and $sb: $(cat "$WORK/a.err" "$WORK/b.err")" ;;
  esac
  cmp -s "$WORK/big-expected.ini" "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI damaged"
  expect_registry "$machine"
  expect_no_leftovers "$machine"
  rm -rf "$machine"
done

finish
