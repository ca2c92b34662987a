#!/usr/bin/env bash
# SIGTERM to the real window program in the middle of a run, on a virtual X
# display against the simulated device: the run ends as a confirmed cancel
# (the device answered, then got no end byte), and the program exits as
# "Exit" does, writing update.cfg. Exit 77 (skipped) without Xvfb/xdotool.
set -euo pipefail

program=${1:?usage: $0 PROGRAM DEVSIM MKUPD}
devsim=${2:?}
mkupd=${3:?}
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$*"; cat "$work"/*.log 2>/dev/null || true; exit 1; }

# A copy in its own folder: update.cfg and the port links live beside it.
cp "$program" "$work/update"
mkdir -m 700 "$work/runtime"
head -c 30000 /dev/zero >"$work/image.bin"  # about 5 s on the paced line
"$mkupd" -o "$work/run.upd" --target 1 --name Board --type firmware --data "$work/image.bin" >/dev/null
printf '%s\nPort=0\n' "$work/run.upd" >"$work/update.cfg"
touch -d '1 hour ago' "$work/update.cfg"
touch "$work/before"

"$devsim" --link "$work/ports/com1" --baud 57600 --runs 1 --log "$work/device.txt" >"$work/devsim.log" 2>&1 &
devsim_pid=$!
pids+=("$devsim_pid")
for _ in $(seq 100); do [ -e "$work/ports/com1" ] && break; sleep 0.05; done
[ -e "$work/ports/com1" ] || fail "devsim made no port link"

Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
pids+=("$!")
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb gave no display"
export DISPLAY=":$(head -n1 "$work/display")"

# Sanitizer builds ignore what happens inside the system's libraries (the
# D-Bus buffer left at exit, the hand-overs inside Qt's own threads): the
# suppressions beside this script, as for the other tests of the real program.
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS="suppressions=$here/XvfbLeaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export TSAN_OPTIONS="suppressions=$here/XvfbRaces.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
mkdir "$work/home"  # a private home: no setting of the user's reaches the program
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" \
  "$work/update" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=("$program_pid")
window=
for _ in $(seq 200); do
  window=$(xdotool search --name '^Update V1.5$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no window appeared"
sleep 0.5
# The port list has the focus; Tab past the file field and "Browse..." to "Update".
xdotool windowfocus --sync "$window" key --window "$window" Tab Tab Tab space

sleep 2.5  # the device has answered and blocks are going out
kill -0 "$program_pid" 2>/dev/null || fail "the program ended before the signal"
kill -TERM "$program_pid"
status=0
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$program_pid" 2>/dev/null && fail "the program did not end within 5 s of SIGTERM"
wait "$program_pid" || status=$?
[ "$status" -eq 0 ] || fail "the program's exit status was $status"
[ "$work/update.cfg" -nt "$work/before" ] || fail "update.cfg was not written at the end"
grep -q "^$work/run.upd\$" "$work/update.cfg" || fail "update.cfg lost the file name"

kill -TERM "$devsim_pid"
wait "$devsim_pid" || true
grep -q ' RX A3$' "$work/device.txt" || fail "the device never answered: no run was cancelled"
if grep -q ' RX A2$' "$work/device.txt"; then fail "the device got the end byte: the run was not cancelled"; fi
blocks=$(grep -c '^X block' "$work/device.txt" || true)
[ "$blocks" -lt 31 ] || fail "all $blocks blocks went out: the cancel came too late"
echo "SIGTERM after $blocks blocks ended the run as a cancel; update.cfg written"
