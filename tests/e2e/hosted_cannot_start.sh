# A machine the uninstaller cannot use ends the run before any box with
# status 2 and a one-line reason, and nothing on disk changes.
source "$(dirname "$0")/hosted_common.bash" "$@"

expect_one_line_reason() {
  local lines
  lines=$(wc -l <"$WORK/stderr")
  [ "$lines" -eq 1 ] || fail "expected a one-line reason on stderr, got $lines lines: $(head -c 300 "$WORK/stderr")"
  [ ! -s "$WORK/log" ] || ! grep -q '"call": *"MessageBoxA"' "$WORK/log" || fail "a box was shown"
}

# Each malformed line goes in after a blank line near the middle of the demo's
# registry.reg, where it cannot be taken for the tail of a wrapped value; the
# reason must name that line.
AT=$(awk '{ sub(/\r$/, "") } NR >= 5000 && $0 == "" { print NR + 1; exit }' "$DEMO/registry.reg")
bad_lines=(
  '[HKEY_LOCAL_MACHINE\Software\Unclosed'
  '[HKEY_NOWHERE\Software]'
  '"Value"=dword:123456789'
  '"Value"=hex:01,0g,03'
  '"Name"="text without its closing quote'
  'Value=no quotes'
)
malformed_case() {
  local what=$1 line=$2    # line: a number, or an extended regex of numbers
  scenario "malformed registry.reg: $what"
  cp -a "$machine" "$WORK/malformed-before"
  run --machine "$machine" --answers yes,ok,ok
  expect_status 2
  expect_one_line_reason
  grep -q 'registry\.reg' "$WORK/stderr" || fail "reason does not name registry.reg: $(cat "$WORK/stderr")"
  grep -Eqw "$line" "$WORK/stderr" || fail "reason does not name line $line: $(cat "$WORK/stderr")"
  expect_same_tree "$WORK/malformed-before" "$machine"
  rm -rf "$WORK/malformed-before"
}
for bad in "${bad_lines[@]}"; do
  machine=$(fresh_machine malformed)
  awk -v at="$AT" -v bad="$bad" 'NR == at { printf "%s\r\n", bad } { print }' \
    "$DEMO/registry.reg" >"$machine/registry.reg"
  malformed_case "$bad" "$AT"
done

machine=$(fresh_machine malformed)
{ printf 'REGEDIT5\r\n'; tail -n +2 "$DEMO/registry.reg"; } >"$machine/registry.reg"
malformed_case "wrong header" 1

# A file cut off in the middle of a wrapped hex value.
machine=$(fresh_machine malformed)
cut_at=$(awk '/,\\\r?$/ && ++n == 100 { print NR; exit }' "$DEMO/registry.reg")
head -n "$cut_at" "$DEMO/registry.reg" >"$machine/registry.reg"
# The reason may name the line left open or the end of the file after it.
malformed_case "cut inside a wrapped value" "($cut_at|$((cut_at + 1)))"

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

# A log naming a file of the machine, or a new file in it, directly or
# through a link: refused before anything is written (it would truncate the
# registry, or replace SYSTEM.INI, or grow without end reading itself).
log_cases=(
  "registry.reg|registry.reg"
  "WINDOWS/SYSTEM.INI|WINDOWS/SYSTEM.INI"
  "WINDOWS/new.log|WINDOWS/new.log"
  "link-to-ini|$WORK/link-to-ini"
  "linked-folder|$WORK/linked-folder/calls.log"
)
for entry in "${log_cases[@]}"; do
  what=${entry%%|*} log=${entry#*|}
  scenario "log inside the machine: $what"
  machine=$(fresh_machine log-inside)
  [[ $log = /* ]] || log=$machine/$log
  ln -sfn "$machine/WINDOWS/SYSTEM.INI" "$WORK/link-to-ini"
  ln -sfn "$machine/WINDOWS" "$WORK/linked-folder"
  for answers in yes,ok,ok,ok no; do
    run_plain --machine "$machine" --answers "$answers" --log "$log"
    rm -f "$WORK/log"
    expect_status 2
    expect_one_line_reason
    grep -q 'inside the machine folder' "$WORK/stderr" || fail "reason: $(cat "$WORK/stderr")"
    expect_same_tree "$DEMO" "$machine"
  done
done
rm -f "$WORK/link-to-ini" "$WORK/linked-folder"

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
