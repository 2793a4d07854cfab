# The uninstaller on a Windows 98 drive (the demo machine as make_drive makes
# it: MSDOS.SYS naming C:\WIN98, HKEY_LOCAL_MACHINE in WIN98\SYSTEM.DAT):
#   a. a full run removes exactly the modem's subtrees from SYSTEM.DAT, as
#      libcreg reads it, in place (the size stays), after a backup of the
#      file as it was;
#   b. killed at a write of SYSTEM.DAT, the run leaves a file that libcreg
#      and our reader both read, and the next run ends on the unbroken run's
#      bytes;
#   c. a write that fails (EIO) is reported, exit 2 with the journal kept;
#      the file reads, and the next run ends on the same bytes;
#   d. a user who may not write SYSTEM.DAT is refused before anything changes.
# The faults come from strace, which kills or fails the Nth pwrite64 before
# it is made. TQ72_MAKE_DRIVE names the make_drive tool (CTest sets it);
# it and libcreg run under the same time bound as the program.
source "$(dirname "$0")/hosted_common.bash" "$@"

MAKE_DRIVE=${TQ72_MAKE_DRIVE:?TQ72_MAKE_DRIVE must name the make_drive tool}
LIBCREG_LIST=$SRC/tests/support/libcreg_list.py
DAT=WIN98/SYSTEM.DAT

scenario "the demo machine as a drive"
timeout "$RUN_SECONDS" "$MAKE_DRIVE" "$DEMO" "$WORK/drive" >/dev/null || { fail "make_drive could not make the drive"; finish; }
cp "$WORK/drive/$DAT" "$WORK/before.dat"

# libcreg's listing of a SYSTEM.DAT (K path, V name type hex), or a failure.
libcreg_listing() {
  timeout "$RUN_SECONDS" /usr/bin/python3 "$LIBCREG_LIST" "$1"
}

# Both readers take FILE and see the same keys and values in it.
expect_readable() {
  local why
  if ! libcreg_listing "$1" >"$WORK/libcreg" 2>"$WORK/why"; then
    fail "libcreg cannot read ${1#"$WORK/"}: $(head -c 300 "$WORK/why")"
  elif ! timeout "$RUN_SECONDS" "$MAKE_DRIVE" --list "$1" >"$WORK/ours" 2>"$WORK/why"; then
    fail "our reader refuses ${1#"$WORK/"}: $(head -c 300 "$WORK/why")"
  elif ! why=$(diff "$WORK/libcreg" "$WORK/ours"); then
    fail "libcreg and our reader list ${1#"$WORK/"} differently: $(echo "$why" | head -4)"
  fi
}

# A listing without the keys at or below those of LIST (HKEY_LOCAL_MACHINE\
# paths, one a line, any case), nor their values.
drop_listed_keys() {
  awk 'FILENAME == ARGV[1] { sub(/^HKEY_LOCAL_MACHINE\\/, ""); gone[tolower($0)] = 1; next }
       /^K / { k = tolower(substr($0, 3)); skip = 0
               for (g in gone) if (k == g || index(k, g "\\") == 1) { skip = 1; break } }
       !skip' "$2" "$1"
}

libcreg_listing "$WORK/before.dat" >"$WORK/before.list" || fail "libcreg cannot read the drive made"

scenario "a. full run"
drive=$(fresh_machine full "$WORK/drive")
run --machine "$drive" --answers yes,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$COMPLETION"
expect_readable "$drive/$DAT"
if ! cmp -s <(drop_listed_keys "$WORK/before.list" "$EXPECTED/removed-keys.txt") "$WORK/libcreg"; then
  fail "SYSTEM.DAT is not the file before less the subtrees of removed-keys.txt (< expected, > found)"
  diff <(drop_listed_keys "$WORK/before.list" "$EXPECTED/removed-keys.txt") "$WORK/libcreg" |
    head -10 | sed 's/^/    /' >&2 || true
fi
[ "$(stat -c %s "$drive/$DAT")" -eq "$(stat -c %s "$WORK/before.dat")" ] || fail "SYSTEM.DAT changed its size"
cmp -s "$drive/WIN98/SYSTEM.Q00" "$WORK/before.dat" || fail "the backup SYSTEM.Q00 is not the file before the run"
[ ! -e "$drive/registry.reg.journal" ] || fail "the journal was left"
cmp -s "$EXPECTED/SYSTEM.INI" "$drive/WIN98/SYSTEM.INI" || fail "SYSTEM.INI differs from expected"
for file in "${PRODUCT_FILES[@]}"; do
  file=WIN98/${file#WINDOWS/}
  [ ! -e "$drive/${file^^}" ] || fail "$file was not removed"
done
cp "$drive/$DAT" "$WORK/end.dat"

# On a FAT mount a user owns every file, and Windows' read-only attribute
# shows as a mode without w: only root may write SYSTEM.DAT. A user's run
# must stop before it touches anything, not at its end with the files gone.
scenario "d. a user who may not write SYSTEM.DAT"
if [ "$(id -u)" -ne 0 ]; then
  echo "note: not root, so the user's run cannot be played; case d skipped" >&2
else
  drive=$(fresh_machine user "$WORK/drive")
  chmod o+x "$WORK"
  chown -R nobody "$drive"
  chmod a-w "$drive/$DAT"
  cp -a "$drive" "$WORK/user-before"
  bounded setpriv --reuid=nobody --regid=nogroup --clear-groups "$BIN" --machine "$drive" --answers yes,ok \
    </dev/null >"$WORK/stdout" 2>"$WORK/stderr"
  expect_status 2
  grep -qF 'cannot write C:\WIN98\SYSTEM.DAT: Permission denied' "$WORK/stderr" ||
    fail "the refusal does not name SYSTEM.DAT: $(head -c 300 "$WORK/stderr")"
  expect_same_tree "$WORK/user-before" "$drive"
  rm -rf "$drive" "$WORK/user-before"
fi

# strace must be able to trace the program; where it cannot (no ptrace in
# a container), the fault cases cannot run, and the script says so and
# exits 77, which CTest shows as skipped.
command -v strace >/dev/null || { fail "strace is not installed (tools/test.sh installs it)"; finish; }
if ! timeout "$RUN_SECONDS" strace -qq -o /dev/null -e trace=none true 2>"$WORK/why"; then
  echo "SKIP: strace cannot trace here, so the kill and I/O error cases did not run: $(head -1 "$WORK/why")" >&2
  [ "$FAILURES" -eq 0 ] && exit 77
  finish
fi

# strace with the program's options. LeakSanitizer stops the process with
# ptrace at its exit, which it cannot under strace: a sanitized program does
# without it while traced (its untraced runs still check for leaks).
TRACED=(env "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" strace -qq -e trace=pwrite64)

# The pwrite64 calls of an unbroken run: the writes of SYSTEM.DAT, which
# nothing else of the program writes that way.
scenario "the writes of an unbroken run"
drive=$(fresh_machine counted "$WORK/drive")
bounded "${TRACED[@]}" -o "$WORK/trace" "$BIN" --machine "$drive" --answers yes,ok \
  </dev/null >/dev/null 2>"$WORK/stderr"
expect_status 1
cmp -s "$drive/$DAT" "$WORK/end.dat" || fail "the run under strace ended on other bytes"
writes=$(grep -c '^pwrite64(' "$WORK/trace" || true)
[ "$writes" -ge 8 ] || fail "only $writes writes of SYSTEM.DAT"
# The first unlink and the five writes that free its key, the next unlink,
# then a stride that falls on every kind of write, and the last two.
points=$(printf '%s\n' 1 2 3 4 5 6 7 $(seq 20 25 $((writes - 2))) $((writes - 1)) "$writes" | sort -nu)

# Runs the uninstaller with FAULT (strace's signal=... or error=...) at the
# Nth write, its standard error kept in $WORK/fault-stderr; then checks the
# file and that a declined run finishes the job.
fault_at() { # n fault expected-status
  local n=$1
  drive=$(fresh_machine "fault-$n" "$WORK/drive")
  bounded "${TRACED[@]}" -o /dev/null -e inject=pwrite64:"$2":when="$n" \
    "$BIN" --machine "$drive" --answers yes,ok </dev/null >/dev/null 2>"$WORK/stderr"
  expect_status "$3"
  cp "$WORK/stderr" "$WORK/fault-stderr"
  [ -s "$drive/registry.reg.journal" ] || fail "no journal kept"
  expect_readable "$drive/$DAT"
  run --machine "$drive" --answers no
  expect_status 0
  cmp -s "$drive/$DAT" "$WORK/end.dat" || fail "the next run did not end on the unbroken run's bytes"
  [ ! -e "$drive/registry.reg.journal" ] || fail "the next run left the journal"
  rm -rf "$drive"
}

for n in $points; do
  scenario "b. killed at write $n of $writes"
  fault_at "$n" signal=SIGKILL 137
done

for n in $points; do
  scenario "c. write $n of $writes fails"
  fault_at "$n" error=EIO 2
  grep -qF 'cannot write C:\WIN98\SYSTEM.DAT: Input/output error; the ' "$WORK/fault-stderr" &&
    grep -qF 'kept in registry.reg.journal, and the next run applies them' "$WORK/fault-stderr" ||
    fail "the failure is not told: $(head -c 300 "$WORK/fault-stderr")"
done

finish
