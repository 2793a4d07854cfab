# A machine the uninstaller cannot use ends the run before any box with
# status 2 and a one-line reason, and nothing on disk changes.
source "$(dirname "$0")/hosted_common.bash" "$@"

expect_one_line_reason() {
  local lines
  lines=$(wc -l <"$WORK/stderr")
  [ "$lines" -eq 1 ] || fail "expected a one-line reason on stderr, got $lines lines: $(head -c 300 "$WORK/stderr")"
  [ ! -s "$WORK/log" ] || ! grep -q '"call": *"MessageBoxA"' "$WORK/log" || fail "a box was shown"
}

# A malformed line near the middle of the demo's registry.reg, after a blank
# line, where it cannot be taken for the tail of a wrapped value: the reason
# names the file and that line. (Which lines are malformed, and the line
# each reason names, is the REGEDIT4 suite's part.)
scenario "malformed registry.reg"
machine=$(fresh_machine malformed)
at=$(awk '{ sub(/\r$/, "") } NR >= 5000 && $0 == "" { print NR + 1; exit }' "$DEMO/registry.reg")
awk -v at="$at" 'NR == at { printf "\"Value\"=hex:01,0g,03\r\n" } { print }' \
  "$DEMO/registry.reg" >"$machine/registry.reg"
cp -a "$machine" "$WORK/malformed-before"
run --machine "$machine" --answers yes,ok,ok
expect_status 2
expect_one_line_reason
grep -q "registry\.reg:$at:" "$WORK/stderr" || fail "reason does not name registry.reg, line $at: $(cat "$WORK/stderr")"
expect_same_tree "$WORK/malformed-before" "$machine"

scenario "machine folder missing"
run --machine "$WORK/no-such-machine" --answers yes,ok
expect_status 2
expect_one_line_reason
[ ! -e "$WORK/no-such-machine" ] || fail "the missing folder was created"

scenario "machine folder is a file"
printf 'REGEDIT4\r\n' >"$WORK/plain-file"
run --machine "$WORK/plain-file" --answers yes,ok
expect_status 2
expect_one_line_reason

# A log naming a file of the machine is refused before anything is written:
# appended to registry.reg, it would leave a file no run can load. (Every
# other name of a file inside, through links too, is the hosted platform
# suite's part.)
scenario "log inside the machine"
machine=$(fresh_machine log-inside)
run_plain --machine "$machine" --answers yes,ok,ok,ok --log "$machine/registry.reg"
rm -f "$WORK/log"
expect_status 2
expect_one_line_reason
grep -q 'inside the machine folder' "$WORK/stderr" || fail "reason: $(cat "$WORK/stderr")"
expect_same_tree "$DEMO" "$machine"

# A newline in a name must not split the one-line reason.
for args in "--answers maybe" "--bogus" "--machine" $'--answers=yes,ma\nybe' $'--bo\ngus' \
  $'--machine=no\nsuch' $'--log=/no/such/fo\nlder/log'; do
  scenario "bad command line: $args"
  machine=$(fresh_machine badargs)
  IFS=' ' read -r -d '' -a argv < <(printf '%s\0' "$args") || true  # split at spaces only
  cd "$machine"
  run_plain "${argv[@]}"
  cd "$OLDPWD"
  rm -f "$WORK/log"
  expect_status 2
  expect_one_line_reason
  expect_same_tree "$DEMO" "$machine"
done

finish
