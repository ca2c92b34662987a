#!/usr/bin/env bash
# Builds update-cli and the benchmark (Release, build-bench/) and runs it:
# update-cli against the simulated device paced at 57600 baud over a
# pseudo-terminal, for a firmware target, an XSVF flash program, a
# TAP-move stream and the largest real-world SVF sample (converted to XSVF),
# plus the silent-device timings and the station workload (the firmware and
# the XSVF flash program on 4 and on 16 devices through one update-cli,
# against single runs). Prints Markdown tables.
#   scripts/bench.sh                 3 runs per workload (about 13 minutes)
#   scripts/bench.sh --runs 5        more runs; see --help for the rest
#   scripts/bench.sh --floor         only the XSVF workloads with their floor (about 2 minutes)
#   scripts/bench.sh --large         only the large-input section (about 1 minute)
#   scripts/bench.sh --only station  only the station workload (about 10 minutes)
# Exit status: 0 every target met, 1 a target missed, 2 setup error.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DUPDATE_BUILD_GUI=OFF >/dev/null
cmake --build build-bench -j 2 --target update-bench >/dev/null
# The machine may be shared: its load decides the turnaround tails.
echo "nproc: $(nproc); load average: $(cut -d' ' -f1-3 /proc/loadavg)"
lscpu | head
echo
status=0
build-bench/bin/update-bench "$@" || status=$?
echo "load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
