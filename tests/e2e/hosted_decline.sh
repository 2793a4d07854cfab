# Declining at the confirmation, in every way a user or a missing display can,
# ends with status 0 and leaves the machine byte for byte as it was.
source "$(dirname "$0")/hosted_common.bash" "$@"

for answers in enter no none; do
  scenario "confirmation answered '$answers'"
  machine=$(fresh_machine "decline-$answers")
  run --machine "$machine" --answers "$answers"
  expect_status 0
  case $answers in
    none) result=0 ;;
    *) result=7 ;;
  esac
  # 260 = MB_YESNO | MB_DEFBUTTON2: No is the default button.
  expect_boxes "260|$result|$CONFIRMATION"
  expect_same_tree "$DEMO" "$machine"
done

# Without --answers and without a terminal the box cannot be shown: the run
# must not take that for consent.
scenario "no answers, no terminal"
machine=$(fresh_machine decline-silent)
run --machine "$machine"
expect_status 0
expect_boxes "260|0|$CONFIRMATION"
expect_same_tree "$DEMO" "$machine"

finish
