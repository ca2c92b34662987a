#!/usr/bin/env bash
# Takes the README's pictures (docs/*.png) from real runs: the real program
# on a virtual X display, driven by real clicks (xdotool), updating the
# simulated device over a pseudo-terminal paced at 57600 baud; each picture
# is what the X server shows (build/bin/grab-window).
#   docs/update-opened-from-file.png     the window started as "update FILE"
#   docs/update-run-three-targets.png    a run part-way through target 2
#   docs/update-cancel-warning.png       "Cancel" pressed after the device answered
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh
cmake --preset ci >/dev/null
cmake --build build -j "$(nproc)" --target update_gui devsim_main mkupd grab_window

bin=$root/build/bin
docs=$root/docs
# shellcheck source=../tests/app/XvfbSession.sh
source "$root/tests/app/XvfbSession.sh"
wait_seconds=30
work=$(mktemp -d /tmp/service-XXXXXX)
devsim_pid=
trap '{ [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null; } || true; end_session; rm -rf "$work"' EXIT
need() { "$@" || { echo "gave up: $*" >&2; [ -s "$work/out.log" ] && cat "$work/out.log" >&2; exit 1; }; }

# ---- a private copy of the program and the device's update file ------------
mkdir -p "$work/bin/ports"
mkdir -m 700 "$work/runtime"
cp "$bin/update" "$work/bin/update"
image() { head -c "$1" /dev/zero | tr '\0' "\\$2" >"$work/$3"; }
image 6000 125 main.bin
image 16000 252 power.bin
image 6000 63 io.bin
(cd "$work" && "$bin/mkupd" -o device.upd \
  --target 1 --name "Main controller firmware" --type firmware --block-crc --data main.bin \
  --target 2 --name "Power board firmware" --type firmware --block-crc --data power.bin \
  --target 3 --name "I/O board firmware" --type firmware --block-crc --data io.bin >/dev/null)
printf '%s\nPort=0\n' "$work/device.upd" >"$work/bin/update.cfg"

need start_xvfb
grab() {
  sleep 0.5  # let the last repaint reach the server
  XDG_RUNTIME_DIR="$work/runtime" "$bin/grab-window" "$1" "$docs/$2"
  echo "wrote docs/$2"
}

# ---- update FILE ------------------------------------------------------------
need start_program device.upd
read -r base_width base_height < <(window_size "$main_window")
base_height=$((base_height - 3 * row_pitch))  # without the rows of the three targets
grab "$main_window" update-opened-from-file.png

# ---- a run; "Cancel" answered with "No" -------------------------------------
"$bin/devsim" --link "$work/bin/ports/com1" --power-on-delay 1500 --busy 1 --block-crc --baud 57600 \
  --runs 1 >/dev/null &
devsim_pid=$!
need wait_for test -e "$work/bin/ports/com1"
click_units 38 142  # "Update"
# Target 1 (6000 bytes, about 1.1 s on the line) done, target 2 on its way.
sleep 4
grab "$main_window" update-run-three-targets.png
click_units 97 142  # "Cancel"
need wait_for other_window_shown
grab "$other_window" update-cancel-warning.png
click_dialog_units "$other_window" 246 73 278 87  # "No": the run goes on
need wait_for other_window_gone
# The run ends with its message box; OK closes it, "Exit" ends the program.
need wait_for other_window_shown
xdotool key Return
click_units 306 143
need wait_for program_ended

# ---- the station window: before Start, and mid-shift with a failed device ----
#   docs/station-idle.png    file checked, four ports ticked
#   docs/station-shift.png   Com2's second device failed, Com3 and Com4 updating
cmake --build build -j "$(nproc)" --target update-station update-cli
tests/stationapp/StationWindowTest.sh "$bin/update-station" "$bin/update-cli" "$bin/devsim" "$bin/mkupd" \
  "$docs" "$bin/grab-window"
