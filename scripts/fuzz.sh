#!/usr/bin/env bash
# Builds the libFuzzer harnesses (fuzz preset: clang, ASan+UBSan) and runs
# each one for a while from its seed corpus.
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
#   SECONDS   time per harness (default 30)
#   HARNESS   update_file xsvf_player update_worker port_setting svf xsvf_listing
#             station_events (default: all)
# New inputs collect in build-fuzz/corpus/HARNESS (the committed seeds in
# fuzz/corpus/ stay as they are); a crashing input lands in
# build-fuzz/artifacts/ and the script fails. Keep such an input as
# fuzz/regressions/HARNESS/NAME: the robustness tests replay it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-30}
shift || true
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=(update_file xsvf_player update_worker port_setting svf xsvf_listing station_events)
fi

cmake --preset fuzz -DUPDATE_BUILD_TESTS=OFF >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=("fuzz_$h"); done
cmake --build build-fuzz -j 2 --target "${targets[@]}"

mkdir -p build-fuzz/artifacts
failed=0
for h in "${harnesses[@]}"; do
  work=build-fuzz/corpus/$h
  mkdir -p "$work"
  seeds=(fuzz/corpus/$h)
  [ -d fuzz/regressions/$h ] && seeds+=(fuzz/regressions/$h)
  log=build-fuzz/fuzz-$h.log
  echo "== $h: ${seconds}s"
  if ! build-fuzz/bin/fuzz_$h -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$root/build-fuzz/artifacts/$h-" "$work" "${seeds[@]}" >"$log" 2>&1; then
    failed=1
    grep -E "invariant broken|ERROR|SUMMARY|Test unit written" "$log" || tail -20 "$log"
  fi
  grep -E "^#[0-9]+[[:space:]]+DONE" "$log" || true
  grep -E "stat::number_of_executed_units" "$log" || true
done
exit $failed
