# A disk that fills up during the run (a file size limit stands in for it:
# writes past it fail with EFBIG, as with ENOSPC): the changes that could not
# be saved are reported at the end, the ones that could are kept in the
# journal when registry.reg cannot be rewritten, and the next run folds them.
source "$(dirname "$0")/hosted_common.bash" "$@"

# Runs the program with writes limited to LIMIT KiB per file; sets STATUS.
run_limited() {
  local limit=$1
  shift
  # SIGXFSZ ignored here stays ignored in the program, so writes fail instead.
  # Standard error goes through a pipe, which the limit does not cut.
  trap '' XFSZ
  bounded prlimit --fsize=$((limit * 1024)) "$BIN" "$@" </dev/null >/dev/null 2> >(cat >"$WORK/stderr")
  wait $!
  trap - XFSZ
}

scenario "no registry change can be saved"
machine=$(fresh_machine none-saved)
run_limited 0 --machine "$machine" --answers yes,ok,ok
expect_status 1  # the removal logic is silent about them, and so is the status
[ "$(wc -l <"$WORK/stderr")" -eq 1 ] || fail "expected one line on stderr: $(cat "$WORK/stderr")"
grep -qE '^tq72uninst: [0-9]+ registry changes could not be saved \(cannot write registry\.reg\.journal: File too large\)$' \
  "$WORK/stderr" || fail "no notice of the unsaved changes: $(cat "$WORK/stderr")"
expect_registry "$machine" "$DEMO/registry.reg" /dev/null
[ ! -e "$machine/registry.reg.journal" ] || fail "an empty journal was left"

scenario "the journal takes the changes, registry.reg cannot be rewritten"
machine=$(fresh_machine fold-fails)
run_limited 1 --machine "$machine" --answers yes,ok,ok
expect_status 2
[ "$(wc -l <"$WORK/stderr")" -eq 1 ] || fail "expected one line on stderr: $(cat "$WORK/stderr")"
grep -qE 'File too large; the [0-9]+ registry changes are kept in registry\.reg\.journal, and the next run applies them$' \
  "$WORK/stderr" || fail "the reason does not say where the changes are: $(cat "$WORK/stderr")"
expect_registry "$machine" "$DEMO/registry.reg" /dev/null
[ -s "$machine/registry.reg.journal" ] || fail "no journal kept"
# Each of its records ([-KEY]) takes a key with its subkeys.
sed -n 's/^\[-\(.*\)\]$/\1/p' "$machine/registry.reg.journal" >"$WORK/saved"
[ -s "$WORK/saved" ] || fail "the journal holds no change"
keys_at_or_below "$DEMO/registry.reg" "$WORK/saved" >"$WORK/saved-keys"

scenario "the next run, declined, folds what was saved"
run --machine "$machine" --answers no
expect_status 0
[ ! -e "$machine/registry.reg.journal" ] || fail "the journal is still there"
expect_registry "$machine" "$DEMO/registry.reg" "$WORK/saved-keys"

scenario "a full run then finishes the job"
run --machine "$machine" --answers yes,ok,ok
expect_status 1
[ ! -s "$WORK/stderr" ] || fail "stderr: $(cat "$WORK/stderr")"
expect_full_run_result "$machine"

finish
