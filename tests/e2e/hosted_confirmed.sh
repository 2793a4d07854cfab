# A confirmed run on the demo machine removes exactly the modem's keys, files
# and SYSTEM.INI lines, and nothing else; a second run on the cleaned machine
# removes nothing more and shows the same boxes but for the applet prompt,
# which an applet that is no longer there brings up like a locked one.
source "$(dirname "$0")/hosted_common.bash" "$@"

# As files_of lists them.
REMOVED_FILES=$(printf './%s\n' "${PRODUCT_FILES[@]}" | sort)

# Checks that MACHINE is the demo after one confirmed run.
expect_cleaned() {
  local machine=$1 gone added
  expect_registry "$machine"
  for product_key in 'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\TQ19KVN' \
                     'HKEY_LOCAL_MACHINE\Software\Quorvane\TQ19KVN'; do
    grep -qFx "$product_key" <(reg_keys "$machine/registry.reg") ||
      fail "product key $product_key is gone"
  done

  gone=$(comm -23 <(files_of "$DEMO") <(files_of "$machine"))
  added=$(comm -13 <(files_of "$DEMO") <(files_of "$machine"))
  [ "$gone" = "$REMOVED_FILES" ] || fail "files removed: $(echo $gone), expected: $(echo $REMOVED_FILES)"
  [ -z "$added" ] || fail "files appeared: $(echo $added)"
  # Files that stay are untouched; SYSTEM.INI is the rewritten one.
  local f
  while read -r f; do
    case $f in
      ./registry.reg | ./WINDOWS/SYSTEM.INI) ;;
      *) [ -d "$DEMO/$f" ] || cmp -s "$DEMO/$f" "$machine/$f" || fail "$f changed" ;;
    esac
  done < <(files_of "$machine")
  cmp -s "$EXPECTED/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI" || {
    fail "SYSTEM.INI differs from expected/SYSTEM.INI"
    diff <(sed -n l "$EXPECTED/SYSTEM.INI") <(sed -n l "$machine/WINDOWS/SYSTEM.INI") | head -10 | sed 's/^/    /' >&2 || true
  }
  # The lines that stay keep their bytes, and none of them names the VxD.
  ! grep -aq qvnvcd "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI still names qvnvcd"
}

scenario "confirmed run"
machine=$(fresh_machine confirmed)
run --machine "$machine" --answers yes,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$COMPLETION"
expect_cleaned "$machine"
cp -a "$machine" "$WORK/after-first"

scenario "second run on the cleaned machine"
run --machine "$machine" --answers yes,ok,ok
expect_status 1
# The product keys are still there, so no "Could not open either key".
expect_boxes "260|6|$CONFIRMATION" "0|1|$APPLET_PROMPT" "0|1|$COMPLETION"
expect_same_tree "$WORK/after-first" "$machine"

scenario "completion box that cannot be shown"
run --machine "$machine" --answers yes,ok,none
expect_status 0
expect_boxes "260|6|$CONFIRMATION" "0|1|$APPLET_PROMPT" "0|0|$COMPLETION"
expect_same_tree "$WORK/after-first" "$machine"

# Without --machine the machine is the current directory.
scenario "machine in the current directory"
machine=$(fresh_machine here)
cd "$machine"
bounded "$BIN" --answers yes,ok --log "$WORK/log" </dev/null >/dev/null 2>"$WORK/stderr"
cd "$OLDPWD"
expect_status 1
expect_cleaned "$machine"

# No SYSTEM.INI: its step does nothing, and creates neither it nor system.new.
scenario "no SYSTEM.INI"
machine=$(fresh_machine no-ini)
rm "$machine/WINDOWS/SYSTEM.INI"
run --machine "$machine" --answers yes,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$COMPLETION"
[ -z "$(find "$machine/WINDOWS" -maxdepth 1 -iname 'system.*')" ] ||
  fail "left behind: $(find "$machine/WINDOWS" -maxdepth 1 -iname 'system.*')"
expect_registry "$machine"

# The machine's files as a mounted disk shows them: names in capitals. The
# run finds them all the same and keeps each name as it was.
scenario "upper-case file names"
machine=$(fresh_machine upper)
for f in "${PRODUCT_FILES[@]}"; do
  mv "$machine/$f" "$machine/$(dirname "$f")/$(basename "${f^^}")"
done
mv "$machine/WINDOWS/Help" "$machine/WINDOWS/HELP"
cp -a "$machine" "$WORK/upper-before"
run --machine "$machine" --answers yes,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$COMPLETION"
gone=$(comm -23 <(files_of "$WORK/upper-before") <(files_of "$machine"))
[ "$gone" = "$(echo "$REMOVED_FILES" | sed 's#/Help/#/HELP/#; s#[^/]*$#\U&#')" ] ||
  fail "files removed: $(echo $gone)"
[ -z "$(comm -13 <(files_of "$WORK/upper-before") <(files_of "$machine"))" ] || fail "files appeared"
cmp -s "$EXPECTED/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI differs from expected/SYSTEM.INI"

finish
