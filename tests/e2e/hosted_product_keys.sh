# The card is found through the product's keys: the service key first, the
# software key when the service key is gone. With neither, the user is told,
# the card's keys stay, and the rest of the run still does its work; with
# the files gone as well, the applet prompt shows for the absent applet.
source "$(dirname "$0")/hosted_common.bash" "$@"

SERVICE_KEY='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\TQ19KVN'
SOFTWARE_KEY='HKEY_LOCAL_MACHINE\Software\Quorvane\TQ19KVN'
CARD_KEY='HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1F8C&DEV_0072&SUBSYS_00721F8C&REV_01'
CARD_CLASS_KEY='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0000'

# A machine from the demo without the keys (and their subkeys) given.
machine_without() {
  local name=$1 dir
  shift
  dir=$(fresh_machine "$name")
  printf '%s\n' "$@" >"$WORK/$name.dropped"
  reg_keys "$DEMO/registry.reg" | awk 'NR == FNR { p[tolower($0)] = 1; next }
    { k = tolower($0); for (x in p) if (k == x || index(k, x "\\") == 1) { print; next } }' \
    "$WORK/$name.dropped" - >"$WORK/$name.dropped-all"
  drop_keys "$DEMO/registry.reg" "$WORK/$name.dropped-all" >"$dir/registry.reg"
  cp "$dir/registry.reg" "$WORK/$name.before"
  echo "$dir"
}

# MACHINE's registry is its starting registry less the keys of LIST.
expect_registry_less() {
  local machine=$1 list=$2 gone
  gone=$(comm -23 <(reg_keys "$WORK/$(basename "$machine").before") <(reg_keys "$machine/registry.reg"))
  if [ "$gone" != "$(sort "$list")" ]; then
    fail "removed keys differ from what was expected"
    diff <(sort "$list") <(echo "$gone") | sed 's/^/    /' >&2 || true
  fi
  cmp -s <(drop_keys "$WORK/$(basename "$machine").before" "$list") "$machine/registry.reg" ||
    fail "registry.reg is not its old bytes less the removed keys' blocks"
}

scenario "service key gone: the PNP ID comes from the software key"
machine=$(machine_without no-service "$SERVICE_KEY")
run --machine "$machine" --answers yes,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$COMPLETION"
expect_registry_less "$machine" "$EXPECTED/removed-keys.txt"
grep -qFx "$SOFTWARE_KEY" <(reg_keys "$machine/registry.reg") || fail "the software key is gone"

scenario "both product keys gone: the card's keys stay, the rest goes"
machine=$(machine_without no-product "$SERVICE_KEY" "$SOFTWARE_KEY")
run --machine "$machine" --answers yes,ok,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$NO_PRODUCT_KEY" "0|1|$COMPLETION"
grep -vF -e "$CARD_KEY" -e "$CARD_CLASS_KEY" "$EXPECTED/removed-keys.txt" >"$WORK/removed-without-card"
expect_registry_less "$machine" "$WORK/removed-without-card"
[ ! -e "$machine/WINDOWS/SYSTEM/tqc.cpl" ] || fail "tqc.cpl still there"
cmp -s "$EXPECTED/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI differs from expected"

scenario "nothing of the product left but its model and fixed keys"
machine=$(machine_without nothing "$SERVICE_KEY" "$SOFTWARE_KEY")
rm "${PRODUCT_FILES[@]/#/$machine/}"
cp "$EXPECTED/SYSTEM.INI" "$machine/WINDOWS/SYSTEM.INI"
cp -a "$machine/WINDOWS" "$WORK/nothing-windows"
run --machine "$machine" --answers yes,ok,ok,ok
expect_status 1
# An absent applet fails to delete like a locked one.
expect_boxes "260|6|$CONFIRMATION" "0|1|$NO_PRODUCT_KEY" "0|1|$APPLET_PROMPT" "0|1|$COMPLETION"
expect_registry_less "$machine" "$WORK/removed-without-card"
expect_same_tree "$WORK/nothing-windows" "$machine/WINDOWS"

finish
