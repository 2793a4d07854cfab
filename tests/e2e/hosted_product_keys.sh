# The card is found through the product's keys: the service key first, the
# software key when the service key is gone. With neither, the user is told,
# the card's keys stay, and the rest of the run still does its work; with
# the files gone as well, the applet prompt shows for the absent applet.
source "$(dirname "$0")/hosted_common.bash" "$@"

SERVICE_KEY='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\TQ19KVN'
SOFTWARE_KEY='HKEY_LOCAL_MACHINE\Software\Quorvane\TQ19KVN'
CARD_KEY='HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1F8C&DEV_0072&SUBSYS_00721F8C&REV_01'
CARD_CLASS_KEY='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0000'

# A machine from the demo without the keys (and their subkeys) given; its
# registry.reg is also kept as $WORK/NAME.before.
machine_without() {
  local name=$1 dir
  shift
  dir=$(fresh_machine "$name")
  keys_at_or_below "$DEMO/registry.reg" <(printf '%s\n' "$@") >"$WORK/$name.dropped"
  drop_keys "$DEMO/registry.reg" "$WORK/$name.dropped" >"$dir/registry.reg"
  cp "$dir/registry.reg" "$WORK/$name.before"
  echo "$dir"
}

scenario "service key gone: the PNP ID comes from the software key"
machine=$(machine_without no-service "$SERVICE_KEY")
run --machine "$machine" --answers yes,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$COMPLETION"
expect_registry "$machine" "$WORK/no-service.before"
grep -qFx "$SOFTWARE_KEY" <(reg_keys "$machine/registry.reg") || fail "the software key is gone"

scenario "both product keys gone: the card's keys stay, the rest goes"
machine=$(machine_without no-product "$SERVICE_KEY" "$SOFTWARE_KEY")
run --machine "$machine" --answers yes,ok,ok
expect_status 1
expect_boxes "260|6|$CONFIRMATION" "0|1|$NO_PRODUCT_KEY" "0|1|$COMPLETION"
grep -vF -e "$CARD_KEY" -e "$CARD_CLASS_KEY" "$EXPECTED/removed-keys.txt" >"$WORK/removed-without-card"
expect_registry "$machine" "$WORK/no-product.before" "$WORK/removed-without-card"
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
expect_registry "$machine" "$WORK/nothing.before" "$WORK/removed-without-card"
expect_same_tree "$WORK/nothing-windows" "$machine/WINDOWS"

finish
