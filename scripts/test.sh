#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
#   scripts/test.sh           release build (build/), warnings as errors
#   scripts/test.sh asan      AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   scripts/test.sh tsan      ThreadSanitizer (build-tsan/)
# Fails when a test fails or when no test ran.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-ci}
case "$preset" in
  ci|default) build_dir=build ;;
  asan) build_dir=build-asan ;;
  tsan) build_dir=build-tsan ;;
  *) echo "usage: $0 [asan|tsan]" >&2; exit 2 ;;
esac

scripts/install-deps.sh
cmake --preset "$preset"
cmake --build "$build_dir" -j "$(nproc)"

export QT_QPA_PLATFORM=offscreen
cd "$build_dir"
# The quick tests first, then the timing-heavy ones (labelled slow).
ctest --no-tests=error --output-on-failure -LE slow -j 2
ctest --no-tests=error --output-on-failure -L slow
