#!/usr/bin/env bash
# Runs every fuzz target for longer than CTest does (default 60 s each, or
# the seconds given), from its checked-in corpus plus what earlier runs found
# (kept in build/fuzz/long/NAME). Failing inputs land in build/fuzz/long/NAME/
# crash-*; to keep one as a regression case, copy it into fuzz/corpus/NAME.
#   tools/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(regedit4_fuzz journal_fuzz sysini_fuzz command_line_fuzz creg_fuzz)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"
status=0
for target in "${targets[@]}"; do
  found=build/fuzz/long/$target
  mkdir -p "$found"
  echo "== $target for $seconds s"
  build/fuzz/fuzz/$target -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -artifact_prefix="$found/" -print_final_stats=1 "$found" "fuzz/corpus/$target" 2>"$found.log" ||
    status=1
  grep -E '^(stat::number_of_executed_units|stat::new_units_added)|ERROR|property failed' "$found.log" || true
done
exit $status
