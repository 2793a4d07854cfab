# The Control Panel holding the applet (a flock on tqc.cpl): the run asks once
# to close it. Held throughout, the applet stays and everything else goes;
# released while the prompt is open, the second attempt deletes it.
source "$(dirname "$0")/hosted_common.bash" "$@"

# Holds a flock on FILE in the background until ended; waits until it is held.
hold() {
  local file=$1 i
  # One process, exec'd into sleep with the locked descriptor: ending it
  # lets go of the lock (flock FILE CMD would leave CMD holding it).
  bash -c 'exec 9<"$1" && flock 9 && exec sleep 600' _ "$file" &
  HOLDER=$!
  HELPER_PIDS+=("$HOLDER")
  # Once the lock is taken, a non-blocking try of ours fails.
  for i in $(seq 100); do
    flock -n "$file" true 2>/dev/null || return 0
    sleep 0.05
  done
  fail "could not take the lock on $file"
}

release() {
  kill "$HOLDER" 2>/dev/null || true
  wait "$HOLDER" 2>/dev/null || true
}

expect_files_gone_but_applet() {
  local machine=$1 f
  for f in SYSTEM/quninst.exe SYSTEM/qvnvcd.vxd SYSTEM/tq72pci.vxd SYSTEM/tq72pci1.vxd Help/tqc.hlp; do
    [ ! -e "$machine/WINDOWS/$f" ] || fail "$f still there"
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
comm -23 <(keys_of "$DEMO/registry.reg") <(keys_of "$machine/registry.reg") |
  cmp -s - <(sort "$EXPECTED/removed-keys.txt") || fail "removed keys differ from expected"
cmp -s "$EXPECTED/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI differs from expected"
release

# The user closes the Control Panel while the prompt is open. The prompt is
# answered on a terminal (script gives the run a pseudo-terminal), after the
# lock holder has gone.
scenario "applet released while the prompt is open"
machine=$(fresh_machine released)
hold "$machine/WINDOWS/SYSTEM/tqc.cpl"
mkfifo "$WORK/keys"
rm -f "$WORK/log"
script -qefc "$(printf '%q ' "$BIN" --machine "$machine" --answers yes --log "$WORK/log")" \
  "$WORK/screen" <"$WORK/keys" >/dev/null 2>&1 &
runner=$!
exec 3>"$WORK/keys"
shown=no
for i in $(seq 200); do
  if grep -aq 'Please close the Control Panel' "$WORK/screen" 2>/dev/null; then shown=yes; break; fi
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.05
done
[ "$shown" = yes ] || fail "the applet prompt did not appear on the terminal"
release
[ -e "$machine/WINDOWS/SYSTEM/tqc.cpl" ] || fail "tqc.cpl deleted before the prompt was answered"
printf '\n' >&3              # OK on the applet prompt
for i in $(seq 200); do
  grep -aq 'Software uninstall is finished' "$WORK/screen" 2>/dev/null && break
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.05
done
printf 'o\n' >&3             # OK on the completion
exec 3>&-
STATUS=0
wait "$runner" || STATUS=$?
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$APPLET_PROMPT" "0|1|$COMPLETION"
[ ! -e "$machine/WINDOWS/SYSTEM/tqc.cpl" ] || fail "tqc.cpl still there after the lock was released"
expect_files_gone_but_applet "$machine"
cmp -s "$EXPECTED/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI differs from expected"

finish
