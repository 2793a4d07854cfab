# The hosted command line around the run: --version, --help, the call log on
# standard error, and a machine whose files are links to elsewhere.
source "$(dirname "$0")/hosted_common.bash" "$@"

scenario "--version and --help"
run_plain --version
expect_status 0
grep -qxE 'tq72uninst [0-9]+\.[0-9]+\.[0-9]+' "$WORK/stdout" || fail "--version printed: $(cat "$WORK/stdout")"
run_plain --machine "$WORK/nowhere" --help
expect_status 0
for word in --machine --answers --log enter none; do
  grep -q -- "$word" "$WORK/stdout" || fail "--help does not mention $word"
done
grep -qF 'drive: the folder where its C:\ is mounted' "$WORK/stdout" ||
  fail "--help does not say that DIR may be a drive"
[ ! -s "$WORK/stderr" ] || fail "--help wrote to stderr"

scenario "log on standard error, declined"
machine=$(fresh_machine m)
run_plain --machine "$machine" --answers no --log -
expect_status 0
lines=$(wc -l <"$WORK/stderr")
[ "$lines" -eq 1 ] || fail "expected one logged call, got $lines"
grep -qE '^\{"n":1,"call":"MessageBoxA",.*"style":260,"result":7\}$' "$WORK/stderr" ||
  fail "log line: $(cat "$WORK/stderr")"
expect_same_tree "$DEMO" "$machine"

scenario "answers run out without a terminal"
run --machine "$machine" --answers ""
expect_status 0
grep -q '"call":"MessageBoxA".*"result":0' "$WORK/log" || fail "the box was not 'cannot be shown'"

scenario "linked files and folders stay outside"
mkdir "$WORK/outside"
printf 'outside applet' >"$WORK/outside/tqc.cpl"
printf 'outside ini' >"$WORK/outside/SYSTEM.INI"
printf 'outside help' >"$WORK/outside/tqc.hlp"
cp -a "$WORK/outside" "$WORK/outside.before"
machine=$(fresh_machine m)
ln -sf "$WORK/outside/tqc.cpl" "$machine/WINDOWS/SYSTEM/tqc.cpl"
ln -sf "$WORK/outside/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI"
rm -rf "$machine/WINDOWS/Help" && ln -s "$WORK/outside" "$machine/WINDOWS/Help"
run --machine "$machine" --answers yes,ok,ok,ok
expect_status 1
expect_same_tree "$WORK/outside.before" "$WORK/outside"
[ ! -L "$machine/WINDOWS/SYSTEM/tqc.cpl" ] || fail "the linked applet was not removed as a link"
[ -L "$machine/WINDOWS/Help" ] || fail "the linked Help folder itself went"

finish
