#!/usr/bin/env bash
# Starts the real window program on a virtual X display with the ordinary
# xcb platform, checks that its window "Update V1.5" appears and that the
# program stays up, then ends it. Catches a missing platform library that
# the offscreen tests cannot see. Exit 77 (skipped) without Xvfb/xwininfo.
set -euo pipefail

program=${1:?usage: $0 PROGRAM}
for tool in Xvfb xwininfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool not installed"
    exit 77
  fi
done

work=$(mktemp -d)
xvfb_pid=
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A copy in its own folder: the program keeps update.cfg beside itself, and
# a setting left in the build folder must not put a message box first.
cp "$program" "$work/update"
mkdir -m 700 "$work/runtime"

# Xvfb picks a free display and writes its number to fd 3.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log"; echo "Xvfb did not start"; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb gave no display"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" "$work/update" >"$work/out.log" 2>&1 &
program_pid=$!

found=no
for _ in $(seq 200); do
  if ! kill -0 "$program_pid" 2>/dev/null; then
    echo "the program ended before its window appeared:"
    cat "$work/out.log"
    exit 1
  fi
  if xwininfo -root -tree 2>/dev/null | grep -q '"Update V1.5"'; then
    found=yes
    break
  fi
  sleep 0.1
done
if [ "$found" != yes ]; then
  echo "no window \"Update V1.5\" appeared"
  cat "$work/out.log"
  exit 1
fi
xwininfo -root -tree | grep '"Update V1.5"'

# Still up with its window shown: it waits for the user.
if ! kill -0 "$program_pid" 2>/dev/null; then
  echo "the program ended on its own:"
  cat "$work/out.log"
  exit 1
fi
if [ -s "$work/out.log" ]; then
  echo "the program printed:"
  cat "$work/out.log"
fi
kill "$program_pid"
wait "$program_pid" 2>/dev/null || true
program_pid=
echo "window appeared on $DISPLAY and the program was closed"
