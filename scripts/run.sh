#!/usr/bin/env bash
# Runs the product against the simulated device: installs what is missing,
# builds, starts the simulated device on a pseudo-terminal linked as Com1
# (build/bin/ports/com1) and updates the bundled sample file. With a display
# it opens the window (sample file and Com1 remembered, press "Update");
# without one it runs update-cli and prints the outcome.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh
cmake --preset ci >/dev/null
cmake --build build -j "$(nproc)"

bin=$root/build/bin
sample=$root/samples/sample.upd
link=$bin/ports/com1

"$bin/devsim" --link "$link" --power-on-delay 1500 --busy 1 --block-crc --runs 1 >/dev/null &
devsim_pid=$!
trap 'kill "$devsim_pid" 2>/dev/null || true; wait "$devsim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

if [ -n "${DISPLAY:-}" ] && [ -x "$bin/update" ]; then
  printf '%s\nPort=0\n' "$sample" > "$bin/update.cfg"
  echo "The window remembers $sample and Com1: press \"Update\"."
  "$bin/update"
else
  cd "$bin"
  "$bin/update-cli" --port Com1 "$sample"
fi
